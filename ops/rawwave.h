// Wraps a file of headerless PCM samples into a WAV file: a plain 44-byte
// header of the chosen format, then the raw file byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/records.h"

namespace velmora {

struct RawToWaveOptions {
    std::string rawPath;       // Edit4
    int rateItem = 0;          // RadioGroup1: 0 "48000", 1 "44100", 2 "32000", 3 "その他"
    std::string otherRate;     // Edit3, read only when "その他" (item 3) is chosen
    int bitsItem = 0;          // RadioGroup2: 0 "16Bit", 1 "8Bit"
    int modeItem = 0;          // RadioGroup3: 0 "Stereo", 1 "Mono"
    std::string outputFolder;  // OutputFolder
};

// The largest raw file whose length and its RIFF size fit the 32-bit size fields.
inline constexpr std::uint64_t kMaxRawSize = 0xFFFFFFFFull - RiffSizeOfHeader(kPlainHeaderSize);

// Writes <folder>/<raw file name with extension>(wavemaker).wav and returns its
// path; an empty rawPath does nothing. Throws "'%s' は整数ではありません" for
// a non-integer Edit3 (before any file is opened) and
// "出力ファイルが4GBを超えるため作成できません" for a raw file above
// kMaxRawSize (before anything is written). Item indices outside the groups
// throw std::invalid_argument.
std::vector<std::string> RawToWave(const RawToWaveOptions& options, Host& host);

}  // namespace velmora
