// Channel split: every channel of the current file into a mono file of its
// own, named after its speaker position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/waveinfo.h"

namespace velmora {

struct SplitOptions {
    std::string source;        // the analysed file; empty does nothing
    std::string outputFolder;  // with or without a final "/"; empty: the source's folder
};

// Refusal when the channel mask names fewer speakers than the file has
// channels (3, 5, 7 or 8 channels without an extensible mask, for instance).
inline constexpr const char* kTextUnknownLayout = "チャンネル配置が不明なため分離できません";

// Writes <folder>/<base>(<speaker>)(<c>).wav for c = 0 … channels − 1 and
// returns their paths in that order. Logs "書込中: " + path as each file is
// created (all of them before the samples) and "終わり" at the end; the
// source is read once and the progress runs once over it. Throws VelmoraError
// on every failure; an output that cannot be created leaves no file behind.
std::vector<std::string> ChannelSplit(const WaveInfo& info, const SplitOptions& options, Host& host);

// The files ChannelSplit writes, in its order; throws as SplitSpeakerNames.
std::vector<std::string> SplitOutputPaths(const WaveInfo& info, const SplitOptions& options);

// The speaker names of the c-th set bits (bits 0–17) of the mask the split
// uses: the file's own, else the default for its channel count. Throws
// kTextUnknownLayout when there are fewer than `channels` of them.
std::vector<std::string> SplitSpeakerNames(std::uint32_t extChannelMask, int channels);

}  // namespace velmora
