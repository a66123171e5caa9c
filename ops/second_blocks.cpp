#include "ops/second_blocks.h"

#include "wav/error.h"

namespace velmora {

void RequireUsableLayout(const WaveInfo& info) {
    if (info.format.samplesPerSec <= 0 || info.format.blockAlign <= 0 || info.format.channels <= 0)
        throw VelmoraError(kTextBadLayout);
    // A frame count past 31 bits leaves the play time undefined.
    if (info.totalSeconds() < 0 || info.playRemainderFrames < 0 ||
        info.playRemainderFrames >= info.format.samplesPerSec)
        throw VelmoraError(kTextBadLayout);
}

void RequireSixteenBitFrames(const WaveInfo& info) {
    if (info.format.blockAlign != 2 * static_cast<int>(info.format.channels)) throw VelmoraError(kTextBadLayout);
}

}  // namespace velmora
