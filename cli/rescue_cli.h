// The header rescue in the CLI: `recover` of files without a usable header
// and `raw2wav --detect`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "ops/rescue.h"

namespace velmora::cli {

struct RescueArgs {
    std::string like;
    std::string rate;  // as typed; empty: like's or 48000
    int channels = 0;  // 0: not given
    int bits = 0;      // 0: not given
    bool isFloat = false;
    bool realign = false;
};

// Whether the file starts as a RIFF/WAVE file does (then `recover` without
// rescue options patches its sizes in place).
bool HasRiffHeader(const std::string& path);

// Rescues each file into FILE(rescue).wav or FILE(realign).wav.
int RunRescue(const std::vector<std::string>& files, const RescueArgs& args);

// raw2wav --detect: each file in its detected format; when the detection is
// not sure, `fallback` (the user's own format) or a refusal.
int RunDetectedRaw2Wav(const std::vector<std::string>& files, const std::string& rate, const std::string& outputDir,
                       const std::optional<FileOperation>& fallback);

}  // namespace velmora::cli
