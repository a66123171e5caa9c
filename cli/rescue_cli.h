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
// -n prints the file each would write, --no-clobber refuses an existing one.
int RunRescue(const std::vector<std::string>& files, const RescueArgs& args, const WriteChoice& write);

// raw2wav --detect: each file in its detected format; when the detection is
// not sure, `fallback` (the user's own format) or a refusal. `plain` is the
// verb's job (its dry run, --no-clobber and plan), whose run this replaces.
int RunDetectedRaw2Wav(const std::vector<std::string>& files, const std::string& rate, const std::string& outputDir,
                       FileJob plain, const std::optional<FileOperation>& fallback);

}  // namespace velmora::cli
