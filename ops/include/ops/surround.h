// Pseudo-surround: a stereo file (16-, 24- or 32-bit integer, 32- or 64-bit
// float) becomes a surround file whose rear pair is the front pair delayed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/waveinfo.h"

namespace velmora {

// The output's header: 4 channels in the extensible layout, or 6 channels
// (the rear pair on channels 5 and 6) in the plain one.
enum class SurroundHeader { Extensible, Plain };

struct SurroundOptions {
    std::string source;          // the analysed file; empty does nothing
    std::string outputFolder;    // empty: the source's folder
    std::int32_t delayMs = 200;  // rear delay, 0–1000 (ParseSurroundDelay)
    bool swapRear = false;       // exchange left and right in the rear pair
    SurroundHeader header = SurroundHeader::Extensible;
    bool cue = false;  // the cue block; honoured only with the extensible header
};

inline constexpr const char* kTextDelayRange = "ディレイは0～1000msの範囲内にしてください";

// Throws kTextDelayRange outside 0–1000.
void RequireDelayInRange(std::int32_t delayMs);

// The rear delay in frames: samplesPerSec / 1000 held in single precision,
// times the delay, truncated (200 ms at 44100 Hz gives 8819). Never more
// than samplesPerSec.
std::int32_t DelayFrames(std::int32_t samplesPerSec, std::int32_t delayMs);

// Output path: <folder>/<base>[(EX)][(SS)] delay(<ms>ms) 4ch.wav.
std::string SurroundOutputPath(const SurroundOptions& options);

// Validates the delay (before looking at the source), then writes the one
// output file and returns its path. Logs "擬似サラウンド出力中" before the
// samples and "終わり" at the end. Throws VelmoraError on every failure.
std::vector<std::string> PseudoSurround(const WaveInfo& info, const SurroundOptions& options, Host& host);

}  // namespace velmora
