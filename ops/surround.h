// Pseudo-surround: a 16-bit stereo file becomes a surround file whose rear
// pair is the front pair delayed (the "擬似サラウンド(2ch->4ch)" button).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/waveinfo.h"

namespace velmora {

struct SurroundOptions {
    std::string fileField;        // Edit1: the source path; empty does nothing
    std::string outputFolder;     // the OutputFolder text
    std::string delayText = "200";  // Edit2: rear delay in milliseconds, 0–1000
    bool swapRear = false;        // CheckBox1: exchange left and right in the rear pair
    bool extendedHeader = true;   // exwavechk: 4-channel extensible, else 6-channel plain
    bool cue = false;             // cuechk: the cue block; honoured only with extendedHeader
};

inline constexpr const char* kTextDelayRange = "ディレイは0～1000msの範囲内にしてください";

// The delay field as the operation takes it: "'%s' は整数ではありません" when
// the text does not convert, kTextDelayRange outside 0–1000.
std::int32_t ParseSurroundDelay(const std::string& delayText);

// The rear delay in frames: samplesPerSec / 1000 held in single precision,
// times the delay, truncated (200 ms at 44100 Hz gives 8819). Never more
// than samplesPerSec.
std::int32_t DelayFrames(std::int32_t samplesPerSec, std::int32_t delayMs);

// Output path: <folder>/<base>[(EX)][(SS)] delay(<ms>ms) 4ch.wav.
std::string SurroundOutputPath(const SurroundOptions& options, std::int32_t delayMs);

// Validates the delay (before looking at the file field), then writes the one
// output file and returns its path. Logs "擬似サラウンド出力中" before the
// samples and "終わり" at the end. Throws VelmoraError on every failure.
std::vector<std::string> PseudoSurround(const WaveInfo& info, const SurroundOptions& options, Host& host);

}  // namespace velmora
