// Wraps a file of headerless PCM samples into a WAV file: a plain 44-byte
// header of the chosen format, then the raw file byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/records.h"

namespace velmora {

enum class RawBits { Sixteen, Eight };
enum class RawChannels { Stereo, Mono };

struct RawToWaveOptions {
    std::string rawPath;       // the headerless file; empty does nothing
    std::int32_t rate = 48000;  // stored as it is, whatever its value
    RawBits bits = RawBits::Sixteen;
    RawChannels channels = RawChannels::Stereo;
    std::string outputFolder;  // empty: the raw file's folder
};

// The largest raw file whose length and its RIFF size fit the 32-bit size fields.
inline constexpr std::uint64_t kMaxRawSize = 0xFFFFFFFFull - RiffSizeOfHeader(kPlainHeaderSize);

// Writes <folder>/<raw file name with extension>(wavemaker).wav and returns its
// path; an empty rawPath does nothing. Throws
// "出力ファイルが4GBを超えるため作成できません" for a raw file above
// kMaxRawSize (before anything is written).
std::vector<std::string> RawToWave(const RawToWaveOptions& options, Host& host);

}  // namespace velmora
