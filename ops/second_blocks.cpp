#include "second_blocks.h"

#include "wav/error.h"

namespace velmora {

void RequireUsableLayout(const WaveInfo& info) {
    if (info.samplesPerSec <= 0 || info.blockAlign <= 0 || info.channels <= 0)
        throw VelmoraError(kTextBadLayout);
    // A frame count past 31 bits leaves the play time undefined.
    if (info.totalSeconds() < 0 || info.playRemainderFrames < 0 ||
        info.playRemainderFrames >= info.samplesPerSec)
        throw VelmoraError(kTextBadLayout);
}

void RequireSixteenBitFrames(const WaveInfo& info) {
    if (info.blockAlign != 2 * static_cast<int>(info.channels)) throw VelmoraError(kTextBadLayout);
}

}  // namespace velmora
