// Pieces the one-second block walks of the split, the pseudo-surround and the
// normalisation share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav/file.h"
#include "wav/waveinfo.h"

namespace velmora {

// Refused when the header's rate, frame size or channel count is zero or
// negative: no block of such a file has a size.
inline constexpr const char* kTextBadLayout =
    "ヘッダのサンプリング周波数・ブロックサイズ・チャンネル数が不正なため処理できません";

void RequireUsableLayout(const WaveInfo& info);

// The operations on 16-bit stereo files move frames of 2 × channels bytes; a
// header whose blockAlign says otherwise counts its play time in frames the
// operation does not move, so its output could never match its header.
// Throws kTextBadLayout then.
void RequireSixteenBitFrames(const WaveInfo& info);

// The frames of the one-second blocks and the remainder together (after
// RequireUsableLayout).
inline std::uint64_t PlayFrames(const WaveInfo& info) {
    return static_cast<std::uint64_t>(info.totalSeconds()) * static_cast<std::uint64_t>(info.samplesPerSec) +
           static_cast<std::uint64_t>(info.playRemainderFrames);
}


// Reads n bytes at offset. A file that shrank since the analysis gives fewer:
// the missing part becomes silence, never what the buffer held before.
inline void ReadBlock(File& file, std::uint64_t offset, std::uint8_t* buf, std::size_t n) {
    std::size_t got = file.readAt(offset, buf, n);
    if (got < n) {
        for (std::size_t i = got; i < n; ++i) buf[i] = 0;
    }
}

// Gauge value k × 100 / total, truncated.
inline int Percent(std::int64_t k, std::int64_t total) {
    return static_cast<int>(k * 100 / total);
}

}  // namespace velmora
