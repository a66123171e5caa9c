// The checks an operation's rule is made of. Each says why a file is refused,
// or nothing; a rule lists the checks of its operation in the order the user
// meets them, and the first that refuses gives the reason.
#pragma once

#include <initializer_list>
#include <optional>

#include "ops/operations.h"

namespace velmora::rules {

using Check = std::optional<Refusal> (*)(const WaveInfo& w, const AnalysisResult& result);

Refusal First(const WaveInfo& w, const AnalysisResult& result, std::initializer_list<Check> checks);

// The format and the samples.
std::optional<Refusal> ShortFormat(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> Compressed(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> NotStereo16(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> PlainFormat(const WaveInfo& w, const AnalysisResult& result);
// Stereo 16-bit, or stereo samples the transforms walk sample by sample.
std::optional<Refusal> NotStereoWalkable(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> Mono(const WaveInfo& w, const AnalysisResult& result);
// Wider than 16 bits, and not a width the transforms walk.
std::optional<Refusal> NarrowOnly(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> NotInteger(const WaveInfo& w, const AnalysisResult& result);
// Not integer PCM, nor float the transforms walk.
std::optional<Refusal> NotWalkable(const WaveInfo& w, const AnalysisResult& result);
// Not a sample format the transforms read sample by sample.
std::optional<Refusal> NotSampleFormat(const WaveInfo& w, const AnalysisResult& result);
// More channels than the loudness weights name.
std::optional<Refusal> MoreThanEightChannels(const WaveInfo& w, const AnalysisResult& result);
// Frames the transforms cannot walk in seconds.
std::optional<Refusal> BadFrames(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> UnknownLayout(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> FrameLayout(const WaveInfo& w, const AnalysisResult& result);

// The sizes and what follows the data.
std::optional<Refusal> Footer(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> NoFooter(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> FileSizeWrong(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> TailNotChunks(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> RiffSizeRight(const WaveInfo& w, const AnalysisResult& result);
// A data size left unfinalized or running past the end of the file, which
// the recovery mends.
std::optional<Refusal> DataSizeWrong(const WaveInfo& w, const AnalysisResult& result);

// The data chunk of a recording to recover.
std::optional<Refusal> DataSizeSound(const WaveInfo& w, const AnalysisResult& result);
// A format chunk that overlaps the data chunk, for the patches of each.
std::optional<Refusal> RateOverlapsData(const WaveInfo& w, const AnalysisResult& result);
std::optional<Refusal> SizesOverlap(const WaveInfo& w, const AnalysisResult& result);

// The rule of the transforms of a stereo file (surround, normalize).
Refusal StereoTransform(const WaveInfo& w, const AnalysisResult& result);

// The rule of an operation that takes any file.
Refusal TakesAnyFile(const WaveInfo& w, const AnalysisResult& result);

}  // namespace velmora::rules
