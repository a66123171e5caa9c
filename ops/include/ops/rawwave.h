// Wraps a file of headerless PCM samples into a WAV file: a plain 44-byte
// header of the chosen format (RF64 past 4 GiB), then the raw file byte for
// byte.
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
    std::string rawPath;        // the headerless file; empty does nothing
    std::int32_t rate = 48000;  // stored as it is, whatever its value
    RawBits bits = RawBits::Sixteen;
    RawChannels channels = RawChannels::Stereo;
    std::string outputFolder;  // empty: the raw file's folder
};

// Writes <folder>/<raw file name with extension>(wavemaker).wav and returns its
// path; an empty rawPath does nothing. Odd raw data gets its pad byte; a raw
// file whose WAV would pass 4 GiB gives an RF64 file.
std::vector<std::string> RawToWave(const RawToWaveOptions& options, Host& host);
// The options a command line gave, as RawToWave takes them.
struct Subject;
RawToWaveOptions RawToWaveOptionsOf(const Subject& subject);

// The file RawToWave writes for a raw file and output folder.
std::string RawToWaveOutputPath(const std::string& rawPath, const std::string& outputFolder);

}  // namespace velmora
