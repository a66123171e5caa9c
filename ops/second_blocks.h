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

// Throws "出力ファイルが4GBを超えるため作成できません" when a riffSize of this
// value would not fit its 32-bit field.
void RequireFits32(std::uint64_t riffSize);

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
