#include "ops/format_detect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wav/text.h"

namespace velmora {

namespace {

// Below this a prediction error counts as exact: half a step of an integer
// sample, about a 20-bit step of a float one.
double Floor(SampleEncoding e) { return e == SampleEncoding::F32 ? 1e-6 : 0.5; }

// A gain past this says only "exact"; capping it keeps one duplicated
// channel from outweighing every other channel of the reading.
constexpr double kMaxGain = 16.0;

// Bits taken off a channel's gain per share of its steps that wrap around.
constexpr double kWrapPenalty = 50.0;

// Weight of one bit of score in the confidence figure.
constexpr double kConfidenceSharpness = 8.0;

// Floats of recorded sound: finite, within a few times full scale, and not
// the tiny magnitudes that integer bytes read as floats mostly give.
bool SaneFloat(double v) { return v == 0.0 || (std::isfinite(v) && std::fabs(v) <= 8.0 && std::fabs(v) >= 1e-30); }

double MeanAbs(const std::vector<double>& a) {
    double s = 0;
    for (double v : a) s += std::fabs(v);
    return a.empty() ? 0 : s / static_cast<double>(a.size());
}

// The error left by predicting `own` from the same-frame error `other` of
// the channel before, scaled by their least-squares ratio.
double CrossError(const std::vector<double>& own, const std::vector<double>& other) {
    double num = 0, den = 0;
    for (std::size_t i = 0; i < own.size(); ++i) num += own[i] * other[i], den += other[i] * other[i];
    const double beta = den > 0 ? num / den : 0;
    double s = 0;
    for (std::size_t i = 0; i < own.size(); ++i) s += std::fabs(own[i] - beta * other[i]);
    return own.empty() ? 0 : s / static_cast<double>(own.size());
}

bool Constant(const std::vector<std::uint8_t>& w) {
    return std::all_of(w.begin(), w.end(), [&](std::uint8_t b) { return b == w.front(); });
}

}  // namespace

int RawSampleFormat::bytesPerSample() const {
    switch (encoding) {
        case SampleEncoding::U8: return 1;
        case SampleEncoding::S16: return 2;
        case SampleEncoding::S24: return 3;
        default: return 4;
    }
}

SampleEncoding EncodingOf(int bits, bool isFloat) {
    if (isFloat) return SampleEncoding::F32;
    switch (bits) {
        case 8: return SampleEncoding::U8;
        case 24: return SampleEncoding::S24;
        case 32: return SampleEncoding::S32;
        default: return SampleEncoding::S16;
    }
}

std::string FormatLabel(const RawSampleFormat& format) {
    return (format.isFloat() ? std::string("float") : std::to_string(format.bits()) + "-bit") + " " +
           std::to_string(format.channels) + "ch";
}

double DecodeSample(const std::uint8_t* p, SampleEncoding encoding) {
    switch (encoding) {
        case SampleEncoding::U8: return static_cast<double>(p[0]) - 128.0;
        case SampleEncoding::S16: return static_cast<std::int16_t>(p[0] | (p[1] << 8));
        case SampleEncoding::S24: {
            std::int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
            if (v & 0x800000) v -= 0x1000000;
            return v;
        }
        case SampleEncoding::S32: {
            std::uint32_t u = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
            return static_cast<std::int32_t>(u);
        }
        case SampleEncoding::F32: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
    }
    return 0;
}

double AudioScore(const std::uint8_t* bytes, std::size_t n, const RawSampleFormat& format, std::uint32_t alignment) {
    const int channels = format.channels;
    const int width = format.bytesPerSample();
    const auto frameSize = static_cast<std::size_t>(format.frameSize());
    if (n <= alignment) return 0;
    const std::size_t frames = (n - alignment) / frameSize;
    if (frames < 16) return 0;
    const double floor = Floor(format.encoding);

    std::vector<double> x(frames), d1(frames - 2), d2(frames - 2), prevD1, prevD2;
    std::size_t insane = 0;
    double total = 0;
    for (int c = 0; c < channels; ++c) {
        const std::uint8_t* p = bytes + alignment + static_cast<std::size_t>(c * width);
        for (std::size_t t = 0; t < frames; ++t, p += frameSize) {
            x[t] = DecodeSample(p, format.encoding);
            if (format.isFloat() && !SaneFloat(x[t])) {
                ++insane;
                x[t] = 0;
            }
        }
        double mean = 0;
        for (double v : x) mean += v;
        mean /= static_cast<double>(frames);
        double spread = 0;
        for (double v : x) spread += std::fabs(v - mean);
        spread /= static_cast<double>(frames);
        for (std::size_t t = 2; t < frames; ++t) {
            d1[t - 2] = x[t] - x[t - 1];
            d2[t - 2] = x[t] - 2 * x[t - 1] + x[t - 2];
        }
        // A signed reading of bytes that are not signed samples jumps from one
        // end of the range to the other at each turn of the bytes it mixes up;
        // recorded sound almost never does.
        std::size_t wraps = 0;
        if (!format.isFloat()) {
            const double jump = 0.75 * std::ldexp(1.0, format.bits());
            for (double d : d1) wraps += std::fabs(d) > jump;
        }
        double error = std::min({spread, MeanAbs(d1), MeanAbs(d2)});
        if (c > 0) error = std::min({error, CrossError(d1, prevD1), CrossError(d2, prevD2)});
        total += std::min(kMaxGain, std::log2((spread + floor) / (error + floor))) -
                 kWrapPenalty * static_cast<double>(wraps) / static_cast<double>(d1.size());
        prevD1 = d1;
        prevD2 = d2;
    }
    // Integers read as floats: a few insane values in a thousand are enough.
    if (format.isFloat() && insane * 200 > frames * static_cast<std::size_t>(channels)) return -1;
    double score = total / channels;
    // Pairs of 16-bit samples read as one 32-bit sample look as smooth as
    // the upper one; their lower halves then are a sound of their own, where
    // a real 32-bit sample's lower half is noise.
    if (format.encoding == SampleEncoding::S32) {
        std::vector<std::uint8_t> low;
        low.reserve(frames * static_cast<std::size_t>(channels) * 2);
        for (std::size_t i = alignment; i + 4 <= n; i += 4) low.insert(low.end(), bytes + i, bytes + i + 2);
        score -= std::max(0.0, AudioScore(low.data(), low.size(), {channels, SampleEncoding::S16}, 0));
    }
    return score;
}

namespace {

bool SameRotation(const FormatGuess& a, const FormatGuess& b) {
    return a.format == b.format && a.alignment % static_cast<std::uint32_t>(a.format.bytesPerSample()) ==
                                       b.alignment % static_cast<std::uint32_t>(b.format.bytesPerSample());
}

// Confidences: the format's share of exp(sharpness × format score) times
// the alignment's share within the format. The verdict: sure when the best
// format scores high enough, clearly above every other format, and clearly
// above its own channel rotations unless `rotationSettled`.
void Conclude(Detection& result, bool rotationSettled) {
    const FormatGuess& best = result.ranked.front();
    double formats = 0;
    for (auto& g : result.ranked) {
        double within = 0;
        for (const auto& h : result.ranked)
            if (h.format == g.format) within += std::exp(kConfidenceSharpness * (h.score - g.score));
        g.confidence = 1 / within;
        // Counted once per format, at its first alignment.
        if (g.alignment == 0) formats += std::exp(kConfidenceSharpness * (g.formatScore - best.formatScore));
    }
    for (auto& g : result.ranked)
        g.confidence *= std::exp(kConfidenceSharpness * (g.formatScore - best.formatScore)) / formats;
    // Rotations the end of the stretch ruled out lend their share to the best.
    if (rotationSettled)
        for (std::size_t i = 1; i < result.ranked.size(); ++i)
            if (SameRotation(result.ranked[i], best)) {
                result.ranked.front().confidence += result.ranked[i].confidence;
                result.ranked[i].confidence = 0;
            }
    double nextFormat = 0, nextRotation = 0;
    for (std::size_t i = 1; i < result.ranked.size(); ++i) {
        const FormatGuess& g = result.ranked[i];
        if (!(g.format == best.format))
            nextFormat = std::max(nextFormat, g.formatScore);
        else if (SameRotation(g, best))
            nextRotation = std::max(nextRotation, g.score);
    }
    result.formatSure = best.formatScore >= kSureScore && best.formatScore - nextFormat >= kSureLead;
    result.sure = result.formatSure && (rotationSettled || best.score - nextRotation >= kSureLead);
}

}  // namespace

Detection RankFormats(const std::vector<std::vector<std::uint8_t>>& windows) {
    std::vector<const std::vector<std::uint8_t>*> sounding;
    for (const auto& w : windows)
        if (!w.empty() && !Constant(w)) sounding.push_back(&w);
    Detection result;
    if (sounding.empty()) return result;
    for (int channels : kDetectChannels) {
        for (SampleEncoding encoding : kDetectEncodings) {
            const RawSampleFormat format{channels, encoding};
            const auto frame = static_cast<std::size_t>(format.frameSize());
            // A byte lost midway changes the alignment, not the format: the
            // format scores its best alignment in each window.
            std::vector<double> sums(frame, 0.0);
            double formatScore = 0;
            for (const auto* w : sounding) {
                double best = -1e9;
                for (std::size_t a = 0; a < frame; ++a) {
                    const double s = AudioScore(w->data(), w->size(), format, static_cast<std::uint32_t>(a));
                    sums[a] += s;
                    best = std::max(best, s);
                }
                formatScore += best;
            }
            formatScore /= static_cast<double>(sounding.size());
            for (std::size_t a = 0; a < frame; ++a)
                result.ranked.push_back({format, static_cast<std::uint32_t>(a),
                                         sums[a] / static_cast<double>(sounding.size()), formatScore, 0});
        }
    }
    // Formats first, then their alignments; stable, so equal scores keep the
    // simpler reading (fewer channels, narrower samples, smaller alignment).
    std::stable_sort(result.ranked.begin(), result.ranked.end(), [](const FormatGuess& a, const FormatGuess& b) {
        if (a.formatScore != b.formatScore) return a.formatScore > b.formatScore;
        return a.score > b.score;
    });
    Conclude(result, false);
    return result;
}

std::vector<std::vector<std::uint8_t>> SampleWindows(File& file, std::uint64_t from, std::uint64_t to) {
    std::vector<std::vector<std::uint8_t>> windows;
    if (to <= from) return windows;
    const std::uint64_t length = to - from;
    const int places = length <= kDetectWindow * kDetectPlaces
                           ? static_cast<int>((length + kDetectWindow - 1) / kDetectWindow)
                           : kDetectPlaces;
    const std::uint64_t step =
        places > 1 ? (length - std::min<std::uint64_t>(length, kDetectWindow)) / static_cast<std::uint64_t>(places - 1)
                   : 0;
    for (int i = 0; i < places; ++i) {
        const std::uint64_t at = from + (step * static_cast<std::uint64_t>(i)) / kFrameLcm * kFrameLcm;
        std::vector<std::uint8_t> w(static_cast<std::size_t>(std::min<std::uint64_t>(kDetectWindow, to - at)));
        w.resize(file.readAt(at, w.data(), w.size()));
        windows.push_back(std::move(w));
    }
    return windows;
}

std::uint32_t BestAlignment(const std::vector<std::vector<std::uint8_t>>& windows, const RawSampleFormat& format) {
    std::uint32_t best = 0;
    double bestScore = -1e9;
    for (int a = 0; a < format.frameSize(); ++a) {
        double score = 0;
        for (const auto& w : windows)
            if (!w.empty() && !Constant(w))
                score += AudioScore(w.data(), w.size(), format, static_cast<std::uint32_t>(a));
        if (score > bestScore) bestScore = score, best = static_cast<std::uint32_t>(a);
    }
    return best;
}

void SettleAlignment(Detection& detection, std::uint32_t alignment) {
    auto& r = detection.ranked;
    if (r.empty()) return;
    const RawSampleFormat format = r.front().format;
    for (std::size_t i = 0; i < r.size(); ++i)
        if (r[i].format == format && r[i].alignment == alignment) {
            std::rotate(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(i),
                        r.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            Conclude(detection, true);
            return;
        }
}

Detection DetectFormat(File& file, std::uint64_t from, std::uint64_t to) {
    Detection result = RankFormats(SampleWindows(file, from, to));
    if (result.ranked.empty()) return result;
    // Which channel comes first cannot be heard when the channels are much
    // alike; a stretch that ends in a whole frame of one rotation settles it.
    const FormatGuess best = result.ranked.front();
    const auto endsWhole = [&](const FormatGuess& g) {
        return (to - from) >= g.alignment &&
               (to - from - g.alignment) % static_cast<std::uint64_t>(g.format.frameSize()) == 0;
    };
    for (std::size_t i = 0; i < result.ranked.size(); ++i) {
        const FormatGuess& g = result.ranked[i];
        if (g.score < best.score - 2 * kSureLead) break;
        if (!SameRotation(g, best) || !endsWhole(g)) continue;
        std::rotate(result.ranked.begin(), result.ranked.begin() + static_cast<std::ptrdiff_t>(i),
                    result.ranked.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        Conclude(result, true);
        return result;
    }
    Conclude(result, false);
    return result;
}

}  // namespace velmora
