#include "ops/second_blocks.h"

#include <algorithm>

#include "ops/source_checks.h"
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

void SourceReader::read(std::uint64_t offset, std::uint8_t* buf, std::size_t n) {
    if (n >= kSmall) {
        ReadAsAnalysed(file_, offset, buf, n);
        return;
    }
    if (ahead_.empty() || offset < aheadAt_ || offset + n > aheadAt_ + ahead_.size()) {
        // What lies past the data (a footer, the end) may come short; only
        // the bytes asked for must be there.
        ahead_.resize(kAhead);
        const std::size_t got = file_.readAt(offset, ahead_.data(), kAhead);
        ahead_.resize(got);
        aheadAt_ = offset;
        if (got < n) throw VelmoraError(TextSourceChanged(file_.path()));
    }
    std::copy_n(ahead_.data() + (offset - aheadAt_), n, buf);
}

}  // namespace velmora
