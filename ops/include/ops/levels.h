// Levels: what a file measures, read once: per channel the sample peak, the
// true peak (4x oversampled) and the RMS; for the whole programme the gated
// integrated loudness, the loudness range and the momentary and short-term
// maxima. Normalize's loudness target measures through the same meter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ops/host.h"
#include "ops/operations.h"
#include "wav/sample_format.h"
#include "wav/waveinfo.h"

namespace velmora {

// Linear values on the full scale of the samples (1.0 = 0 dBFS); 0 for silence.
struct ChannelLevels {
    std::string speaker;  // the speaker the channel mask (or the usual layout) names; empty if none
    double samplePeak = 0;
    double truePeak = 0;
    double rms = 0;
};

// Loudness in LUFS and LU; -inf where nothing passed the gates (silence).
struct Levels {
    std::vector<ChannelLevels> channels;
    double integrated = 0;
    double range = 0;
    double momentaryMax = 0;
    double shortTermMax = 0;
};

// The most channels measured: the layouts BS.1770 weights name up to 7.1.
inline constexpr int kMaxLevelChannels = 8;

// Why a file cannot be measured (code None: it can): a compressed or
// unknown sample format, frames the walk cannot take, more than 8 channels.
Refusal LevelsRule(const WaveInfo& info, const AnalysisResult& result);

// Feeds a loudness meter and the per-channel peaks and sums from blocks of
// frames in the file's own sample format.
class LevelMeter {
public:
    // `truePeak` off leaves the oversampling out (the peaks then stay sample peaks).
    LevelMeter(const WaveInfo& info, const SampleFormat& format, bool truePeak = true);
    ~LevelMeter();
    LevelMeter(const LevelMeter&) = delete;
    LevelMeter& operator=(const LevelMeter&) = delete;
    void add(const std::uint8_t* frames, std::size_t count);
    Levels result() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads the analysed file once through the block walk, progress through the
// host. Throws VelmoraError (the rule's refusal text, or a read failure).
Levels MeasureLevels(const std::string& path, const WaveInfo& info, const AnalysisResult& result, Host& host);

// A linear level in dB (20 log10), -inf for 0.
double Decibels(double linear);

}  // namespace velmora
