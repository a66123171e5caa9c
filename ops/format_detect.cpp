#include "ops/format_detect.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cmath>
#include <cstring>

#include "wav/text.h"

namespace velmora {

namespace {

// Below this a prediction error counts as exact: half a step of an integer
// sample, about a 20-bit step of a float one.
double Floor(SampleEncoding e) { return e == SampleEncoding::F32 || e == SampleEncoding::F64 ? 1e-6 : 0.5; }

// A gain past this says only "exact"; capping it keeps one duplicated
// channel from outweighing every other channel of the reading.
constexpr double kMaxGain = 16.0;

// Bits taken off a channel's gain per share of its steps that wrap around.
constexpr double kWrapPenalty = 50.0;

// Bytes of a 16-bit reading whose entropies differ by less than this are
// alike, as two 8-bit samples read as one are.
constexpr double kPairStructure = 1.0;

// Weight of a bit of byte structure beside a bit of prediction gain.
constexpr double kStructureWeight = 0.5;
// Weight of one bit of score in the confidence figure.
constexpr double kConfidenceSharpness = 8.0;

// Floats of recorded sound: finite, within a few times full scale, and not
// the tiny magnitudes that integer bytes read as floats mostly give.
bool SaneFloat(double v) { return v == 0.0 || (std::isfinite(v) && std::fabs(v) <= 8.0 && std::fabs(v) >= 1e-30); }

bool Constant(const std::vector<std::uint8_t>& w) {
    return std::all_of(w.begin(), w.end(), [&](std::uint8_t b) { return b == w.front(); });
}

// The samples of one encoding from byte `at` on, one after another whatever
// the channel count; floats that no recording holds count as insane (and 0).
struct Samples {
    std::vector<double> x;
    std::size_t insane = 0;
};

Samples DecodeRun(const std::uint8_t* bytes, std::size_t n, SampleEncoding encoding, std::size_t at) {
    const RawSampleFormat one{1, encoding};
    const auto width = static_cast<std::size_t>(one.bytesPerSample());
    Samples s;
    if (n <= at) return s;
    s.x.resize((n - at) / width);
    for (std::size_t k = 0; k < s.x.size(); ++k) {
        s.x[k] = DecodeSample(bytes + at + k * width, encoding);
        if (one.isFloat() && !SaneFloat(s.x[k])) ++s.insane, s.x[k] = 0;
    }
    return s;
}

// Per channel (every `channels`-th sample) in one block: sums for its
// spread and for the errors of its predictors.
struct ChannelSums {
    double centre = 0, spread = 0, e1 = 0, e2 = 0;
    std::size_t n = 0, wraps = 0;
};

// Each channel's gain in bits over the samples [from, to), appended to its
// list: log2 of its spread over the smallest mean error of its predictors
// (none for a channel that does not move there).
void BlockGains(const std::vector<double>& x, const std::vector<double>& d1, const std::vector<double>& d2,
                std::size_t from, std::size_t to, std::size_t C, double floor, double wrapJump,
                std::vector<std::vector<double>>& gains, const std::vector<double>& centre) {
    std::vector<ChannelSums> sums(C);
    for (std::size_t c = 0; c < C; ++c) sums[c].centre = centre[c];
    for (std::size_t k = from; k < to; ++k) {
        ChannelSums& s = sums[k % C];
        s.spread += std::fabs(x[k] - s.centre);
        s.e1 += std::fabs(d1[k]);
        s.e2 += std::fabs(d2[k]);
        s.wraps += wrapJump > 0 && std::fabs(d1[k]) > wrapJump;
        ++s.n;
    }
    for (std::size_t c = 0; c < C; ++c) {
        const ChannelSums& s = sums[c];
        const double m = static_cast<double>(std::max<std::size_t>(s.n, 1));
        const double spread = s.spread / m;
        if (spread <= floor) continue;
        double error = std::min({spread, s.e1 / m, s.e2 / m});
        gains[c].push_back(std::min(kMaxGain, std::log2((spread + floor) / (error + floor))) -
                           kWrapPenalty * static_cast<double>(s.wraps) / m);
    }
}

// Samples of a channel its median over a reading is taken from.
constexpr std::size_t kCentreSamples = 256;

double MedianOf(std::vector<double> v) {
    if (v.empty()) return 0;
    auto at = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), at, v.end());
    return *at;
}

// The mean over channels of each channel's prediction gain in bits. A
// channel is predicted from its own last one or two samples only: the
// sample before it in the file (another channel, or the same channel of a
// reading with too many channels) would make a mono file read as stereo
// look smoother than read as mono. Gains are taken in blocks and their
// median counts, so junk or a click in a few blocks does not drown the
// sound around it.
double ChannelGain(const std::vector<double>& x, int channels, double floor, double wrapJump) {
    const auto C = static_cast<std::size_t>(channels);
    const std::size_t n = x.size() / C * C;
    if (n / C < 16) return 0;
    std::vector<double> d1(n, 0.0), d2(n, 0.0);
    for (std::size_t k = C; k < n; ++k) d1[k] = x[k] - x[k - C];
    for (std::size_t k = 2 * C; k < n; ++k) d2[k] = d1[k] - d1[k - C];
    const std::size_t block = std::max<std::size_t>(32, n / C / 16) * C;
    std::vector<std::vector<double>> gains(C);
    // Each channel's spread is taken around its median over the whole
    // reading (of a few hundred of its samples, spread over it): a block of a few dozen frames holds none of the slow
    // swings of noise whose power lies low, which the last samples do predict.
    std::vector<double> centre(C, 0.0);
    const std::size_t every = std::max<std::size_t>(1, n / C / kCentreSamples) * C;
    for (std::size_t c = 0; c < C; ++c) {
        std::vector<double> v;
        for (std::size_t k = c; k < n; k += every) v.push_back(x[k]);
        centre[c] = MedianOf(std::move(v));
    }
    for (std::size_t from = 2 * C; from + block / 2 <= n; from += block)
        BlockGains(x, d1, d2, from, std::min(n, from + block), C, floor, wrapJump, gains, centre);
    double total = 0;
    for (const auto& g : gains) total += MedianOf(g);
    return total / static_cast<double>(C);
}

// The encoding of the lower part of a wide sample read on its own: the
// lower half of 32- and 64-bit samples, the lowest byte of 16- and 24-bit
// ones.
std::optional<SampleEncoding> LowerPart(SampleEncoding encoding) {
    switch (encoding) {
        case SampleEncoding::S32: return SampleEncoding::S16;
        case SampleEncoding::F64: return SampleEncoding::F32;
        case SampleEncoding::S24:
        case SampleEncoding::S16: return SampleEncoding::U8;
        default: return std::nullopt;
    }
}

// The lower parts of wide samples read as samples of their own: narrower
// samples read as one wide sample look as smooth as the top one, but then
// their lower parts are a sound too, where a real wide sample's lower part
// is noise (or 0). Empty for other encodings.
Samples LowerHalves(const std::uint8_t* bytes, std::size_t n, SampleEncoding encoding, std::uint32_t alignment) {
    const auto part = LowerPart(encoding);
    if (!part) return {};
    const auto width = static_cast<std::size_t>(RawSampleFormat{1, encoding}.bytesPerSample());
    const auto lowWidth = static_cast<std::size_t>(RawSampleFormat{1, *part}.bytesPerSample());
    std::vector<std::uint8_t> low;
    low.reserve(n / width * lowWidth);
    for (std::size_t i = alignment; i + width <= n; i += width) low.insert(low.end(), bytes + i, bytes + i + lowWidth);
    Samples s = DecodeRun(low.data(), low.size(), *part, 0);
    if (encoding == SampleEncoding::F64 && s.insane * 200 > s.x.size()) return {};
    return s;
}

// The byte at `offset` within each sample: its entropy in bits, and the
// share of its most common value.
struct ByteSpread {
    double entropy = 0;
    double commonest = 0;
    bool zero = false;  // the commonest value is 0
};

ByteSpread SpreadOfByte(const std::uint8_t* bytes, std::size_t n, std::size_t width, std::size_t at,
                        std::size_t offset) {
    std::array<std::size_t, 256> counts{};
    std::size_t total = 0;
    for (std::size_t i = at + offset; i + (width - offset) <= n; i += width) ++counts[bytes[i]], ++total;
    ByteSpread s;
    for (std::size_t v = 0; v < counts.size(); ++v) {
        if (counts[v] == 0) continue;
        const double p = static_cast<double>(counts[v]) / static_cast<double>(total);
        s.entropy -= p * std::log2(p);
        if (p > s.commonest) s.commonest = p, s.zero = v == 0;
    }
    return s;
}

// A byte that (but for junk at a window's edge) never moves.
constexpr double kStillByte = 0.9;

// What the bytes of each sample say: some byte below the top is close to
// random in sound (the lowest ones may stay 0: the padding of 24 bits in a
// 32-bit container, the bits a float had not), the top byte (the sign and
// the high bits, or a float's exponent) far from it, above all in quiet
// sound. The difference of their entropies, in bits; nullopt for a top byte
// that never moves, which sound that swings both ways never has (but the
// zero byte of the next sample in a 32-bit container of 24-bit samples has).
std::optional<double> ByteStructure(const std::uint8_t* bytes, std::size_t n, SampleEncoding encoding, std::size_t at) {
    const auto width = static_cast<std::size_t>(RawSampleFormat{1, encoding}.bytesPerSample());
    if (width < 2) return 0.0;
    const ByteSpread top = SpreadOfByte(bytes, n, width, at, width - 1);
    if (top.commonest > kStillByte) return std::nullopt;
    double lower = 0;
    for (std::size_t b = 0; b + 1 < width; ++b) lower = std::max(lower, SpreadOfByte(bytes, n, width, at, b).entropy);
    double split = 0;
    if (encoding == SampleEncoding::S32) {
        // Randomness grows from the top byte down. Two narrower samples
        // read as one wide one break that at their boundary: the top byte
        // of the lower one is as still as the top of the upper one, and the
        // low byte of the upper one as random as any.
        split =
            std::max(0.0, SpreadOfByte(bytes, n, width, at, 2).entropy - SpreadOfByte(bytes, n, width, at, 1).entropy);
    }
    return lower - top.entropy - split;
}

// Padding bytes (0 while another byte of the sample moves) at some samples
// of a reading but not at others: the zero bytes of a wider container,
// which fall at some samples only of a narrower reading. A silent channel
// has no byte that moves; bytes of 8 bits in 16 are 0 at every sample.
bool PaddingAtSomeSamples(const std::uint8_t* bytes, std::size_t n, SampleEncoding encoding, std::size_t at) {
    const std::size_t every = encoding == SampleEncoding::S16 ? 2 : encoding == SampleEncoding::S24 ? 4 : 0;
    if (every == 0) return false;
    const auto width = static_cast<std::size_t>(RawSampleFormat{1, encoding}.bytesPerSample());
    const std::size_t stride = width * every;
    for (std::size_t b = 0; b < width; ++b) {
        bool padded = false, moving = false;
        for (std::size_t g = 0; g < every; ++g) {
            const ByteSpread here = SpreadOfByte(bytes, n, stride, at + g * width, b);
            const bool still = here.commonest > kStillByte;
            bool othersMove = false;
            for (std::size_t o = 0; o < width; ++o)
                othersMove =
                    othersMove || (o != b && SpreadOfByte(bytes, n, stride, at + g * width, o).commonest <= kStillByte);
            padded = padded || (still && here.zero && othersMove);
            moving = moving || !still;
        }
        if (padded && moving) return true;
    }
    return false;
}

}  // namespace

int RawSampleFormat::bytesPerSample() const {
    switch (encoding) {
        case SampleEncoding::U8: return 1;
        case SampleEncoding::S16: return 2;
        case SampleEncoding::S24: return 3;
        case SampleEncoding::F64: return 8;
        default: return 4;
    }
}

SampleEncoding EncodingOf(int bits, bool isFloat) {
    if (isFloat) return bits == 64 ? SampleEncoding::F64 : SampleEncoding::F32;
    switch (bits) {
        case 8: return SampleEncoding::U8;
        case 24: return SampleEncoding::S24;
        case 32: return SampleEncoding::S32;
        default: return SampleEncoding::S16;
    }
}

std::string FormatLabel(const RawSampleFormat& format) {
    const char* kind = format.encoding == SampleEncoding::F64 ? "float64" : "float";
    return (format.isFloat() ? std::string(kind) : std::to_string(format.bits()) + "-bit") + " " +
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
        case SampleEncoding::F64: {
            double d;
            std::memcpy(&d, p, 8);
            return d;
        }
    }
    return 0;
}

namespace {

// What one encoding at one phase of a window reads, whatever the channel
// count: read once, scored for each count.
struct PhaseReading {
    SampleEncoding encoding = SampleEncoding::S16;
    Samples samples;
    bool refused = false;  // floats no sound holds, or no sample structure
    std::optional<double> structure;
    Samples lower;
};

PhaseReading ReadPhase(const std::uint8_t* bytes, std::size_t n, SampleEncoding encoding, std::uint32_t alignment) {
    PhaseReading r;
    r.encoding = encoding;
    r.samples = DecodeRun(bytes, n, encoding, alignment);
    const bool isFloat = encoding == SampleEncoding::F32 || encoding == SampleEncoding::F64;
    // Integers read as floats: most of them insane (tiny, huge or NaN); a
    // tenth is enough, and leaves room for junk at a window's edge.
    if (isFloat && r.samples.insane * 10 > r.samples.x.size()) r.refused = true;
    // Floats read as 32-bit integers: every value a float of sound would be
    // (integers of sound near 0 on either side read as tiny floats or NaN).
    if (encoding == SampleEncoding::S32) {
        const Samples f = DecodeRun(bytes, n, SampleEncoding::F32, alignment);
        std::size_t zeros = 0;
        for (double v : f.x) zeros += v == 0.0;
        if (f.insane * 50 <= f.x.size() && zeros * 2 < f.x.size()) r.refused = true;
    }
    r.structure = ByteStructure(bytes, n, encoding, alignment);
    if (!r.structure || PaddingAtSomeSamples(bytes, n, encoding, alignment)) r.refused = true;
    // The low byte of quiet 16-bit sound follows the sound, but then its
    // top byte is far from random: the low byte counts only where the two
    // bytes are alike, as two 8-bit samples are.
    const bool alike = encoding != SampleEncoding::S16 || (r.structure && *r.structure < kPairStructure);
    if (!r.refused && alike) r.lower = LowerHalves(bytes, n, encoding, alignment);
    // Pairs of 32-bit floats read as 64-bit ones: every lower half a float
    // of sound too, where the lower half of a 64-bit float of sound is
    // random mantissa bits (or, made from narrower samples, 0).
    if (encoding == SampleEncoding::F64 && !r.lower.x.empty()) {
        const auto zeros = static_cast<std::size_t>(std::count(r.lower.x.begin(), r.lower.x.end(), 0.0));
        if (zeros * 2 < r.lower.x.size()) r.refused = true;
    }
    return r;
}

double ScoreReading(const PhaseReading& r, int channels) {
    const RawSampleFormat format{channels, r.encoding};
    if (r.samples.x.size() / static_cast<std::size_t>(channels) < 16) return 0;
    if (r.refused) return -1;
    const double wrapJump = format.isFloat() ? 0 : 0.75 * std::ldexp(1.0, format.bits());
    double lower = 0;
    if (!r.lower.x.empty()) {
        const SampleEncoding part = *LowerPart(r.encoding);
        const RawSampleFormat low{channels, part};
        lower = std::max(
            0.0, ChannelGain(r.lower.x, channels, Floor(part), low.isFloat() ? 0 : 0.75 * std::ldexp(1.0, low.bits())));
    }
    return ChannelGain(r.samples.x, channels, Floor(r.encoding), wrapJump) - lower + kStructureWeight * *r.structure;
}

}  // namespace

double AudioScore(const std::uint8_t* bytes, std::size_t n, const RawSampleFormat& format, std::uint32_t alignment) {
    return ScoreReading(ReadPhase(bytes, n, format.encoding, alignment), format.channels);
}

namespace {

// Confidences: each phase's share of exp(sharpness × score), formats first
// by their format scores. The verdict: the best format scores high enough
// and clearly above every other format, and its best phase clearly above
// its other phases. Which channel comes first is not decided here.
void Conclude(Detection& result, bool countSettled = false) {
    const FormatGuess& best = result.ranked.front();
    double formats = 0;
    for (const auto& g : result.ranked) {
        // Counted once per format, at its first phase.
        if (g.alignment == 0) formats += std::exp(kConfidenceSharpness * (g.formatScore - best.formatScore));
    }
    for (auto& g : result.ranked) {
        double within = 0;
        for (const auto& h : result.ranked)
            if (h.format == g.format) within += std::exp(kConfidenceSharpness * (h.score - g.score));
        g.confidence = std::exp(kConfidenceSharpness * (g.formatScore - best.formatScore)) / formats / within;
    }
    // Other channel counts of the same samples split or interleave the
    // channels, which costs every reading its smoothness alike: a smaller
    // lead tells them apart than tells one sample encoding from another.
    double nextFormat = -1e9, nextCount = -1e9, nextPhase = -1e9;
    for (std::size_t i = 1; i < result.ranked.size(); ++i) {
        const FormatGuess& g = result.ranked[i];
        if (g.format == best.format)
            nextPhase = std::max(nextPhase, g.score);
        else if (g.format.encoding == best.format.encoding)
            nextCount = std::max(nextCount, g.formatScore);
        else
            nextFormat = std::max(nextFormat, g.formatScore);
    }
    result.notAudio = best.formatScore < kAudioFloor;
    result.formatSure = best.formatScore >= kSureScore && best.formatScore - nextFormat >= kSureLead &&
                        (countSettled || best.formatScore - nextCount >= kSureChannelLead) &&
                        best.score - nextPhase >= kSureLead;
    result.sure = false;
}

// Whether one channel of the reading is zero bytes throughout (a few junk
// bytes at a window's edge aside) beside channels that are not: the bytes
// of 16-bit sound padded into 32-bit samples read so, as do those of a
// channel left silent, and nothing in them tells the two apart.
bool HasZeroChannel(const std::vector<const std::vector<std::uint8_t>*>& windows, const FormatGuess& guess) {
    const auto channels = static_cast<std::size_t>(guess.format.channels);
    const auto width = static_cast<std::size_t>(guess.format.bytesPerSample());
    const std::size_t frame = channels * width;
    std::vector<std::size_t> zeros(channels, 0);
    std::size_t frames = 0;
    for (const auto* w : windows)
        for (std::size_t at = guess.alignment; at + frame <= w->size(); at += frame, ++frames)
            for (std::size_t c = 0; c < channels; ++c) {
                const auto* p = w->data() + at + c * width;
                zeros[c] += std::all_of(p, p + width, [](std::uint8_t b) { return b == 0; });
            }
    const auto zero = [&](std::size_t n) { return n * 50 >= frames * 49; };
    return frames > 0 && std::any_of(zeros.begin(), zeros.end(), zero) &&
           !std::all_of(zeros.begin(), zeros.end(), zero);
}

// Every channel the same sound (a mono source recorded on both sides, or on
// all six): read with fewer channels the samples come in runs of equal
// ones, smoother than any sound, so that reading wins. The runs give the
// count away: the most channels whose groups of samples are equal at one
// offset in nearly every frame, and not all of one value. 0 when none.
int IdenticalChannels(const std::vector<const std::vector<std::uint8_t>*>& windows, const FormatGuess& guess) {
    const auto width = static_cast<std::size_t>(guess.format.bytesPerSample());
    for (const int count : {8, 6, 4, 3, 2}) {
        if (count <= guess.format.channels || count % guess.format.channels != 0) continue;
        const std::size_t frame = width * static_cast<std::size_t>(count);
        std::size_t groups = 0, equal = 0;
        bool varied = false;
        for (const auto* w : windows) {
            std::size_t bestEqual = 0, bestGroups = 0;
            for (std::size_t offset = 0; offset < frame; offset += width) {
                std::size_t n = 0, same = 0;
                for (std::size_t at = guess.alignment + offset; at + frame <= w->size(); at += frame, ++n) {
                    const std::uint8_t* p = w->data() + at;
                    bool all = true;
                    for (std::size_t k = width; k < frame && all; k += width) all = std::memcmp(p, p + k, width) == 0;
                    same += all;
                    if (all && at >= frame && std::memcmp(p, p - frame, width) != 0) varied = true;
                }
                if (same > bestEqual) bestEqual = same, bestGroups = n;
            }
            groups += bestGroups;
            equal += bestEqual;
        }
        if (varied && groups > 0 && equal * 20 >= groups * 19) return count;
    }
    return 0;
}

// The reading of `count` channels of the best one's encoding and phase
// goes first: the runs have settled the channel count.
void PromoteChannelCount(Detection& result, int count) {
    const FormatGuess best = result.ranked.front();
    const auto it = std::find_if(result.ranked.begin(), result.ranked.end(), [&](const FormatGuess& g) {
        return g.format.channels == count && g.format.encoding == best.format.encoding && g.alignment == best.alignment;
    });
    if (it == result.ranked.end()) return;
    std::rotate(result.ranked.begin(), it, it + 1);
    Conclude(result, true);
}

}  // namespace

Detection RankFormats(const std::vector<std::vector<std::uint8_t>>& windows) {
    std::vector<const std::vector<std::uint8_t>*> sounding;
    for (const auto& w : windows)
        if (!w.empty() && !Constant(w)) sounding.push_back(&w);
    Detection result;
    // Nothing but silence (or bytes all alike): no audio to hear.
    result.notAudio = sounding.empty();
    if (sounding.empty()) return result;
    // Each encoding and phase of a window is read once and scored for every
    // channel count. A byte lost midway changes the phase, not the format:
    // a format scores its best phase in each window.
    const double share = 1.0 / static_cast<double>(sounding.size());
    for (int channels : kDetectChannels)
        for (SampleEncoding encoding : kDetectEncodings) {
            const RawSampleFormat format{channels, encoding};
            for (int p = 0; p < format.bytesPerSample(); ++p)
                result.ranked.push_back({format, static_cast<std::uint32_t>(p), 0, 0, 0});
        }
    for (const auto* w : sounding) {
        std::size_t at = 0;  // the first guess of the format, as pushed above
        std::vector<std::vector<double>> scores(std::size(kDetectEncodings));
        for (std::size_t e = 0; e < std::size(kDetectEncodings); ++e) {
            const int width = RawSampleFormat{1, kDetectEncodings[e]}.bytesPerSample();
            for (int p = 0; p < width; ++p) {
                const PhaseReading r =
                    ReadPhase(w->data(), w->size(), kDetectEncodings[e], static_cast<std::uint32_t>(p));
                for (int channels : kDetectChannels) scores[e].push_back(ScoreReading(r, channels));
            }
        }
        for (std::size_t c = 0; c < std::size(kDetectChannels); ++c)
            for (std::size_t e = 0; e < std::size(kDetectEncodings); ++e) {
                const std::size_t width =
                    static_cast<std::size_t>(RawSampleFormat{1, kDetectEncodings[e]}.bytesPerSample());
                double best = -1e9;
                for (std::size_t p = 0; p < width; ++p) {
                    const double s = scores[e][p * std::size(kDetectChannels) + c];
                    result.ranked[at + p].score += s * share;
                    best = std::max(best, s);
                }
                for (std::size_t p = 0; p < width; ++p) result.ranked[at + p].formatScore += best * share;
                at += width;
            }
    }
    // Formats first, then their phases; stable, so equal scores keep the
    // simpler reading (fewer channels, narrower samples, smaller phase).
    std::stable_sort(result.ranked.begin(), result.ranked.end(), [](const FormatGuess& a, const FormatGuess& b) {
        if (a.formatScore != b.formatScore) return a.formatScore > b.formatScore;
        return a.score > b.score;
    });
    Conclude(result);
    if (const int count = IdenticalChannels(sounding, result.ranked.front())) PromoteChannelCount(result, count);
    // Half as many channels of twice the width read the same bytes with
    // that channel as padding: not sure which.
    if (result.formatSure && result.ranked.front().format.channels % 2 == 0 &&
        HasZeroChannel(sounding, result.ranked.front()))
        result.formatSure = false;
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
    // Alignments a whole sample apart score alike: the phase is what counts.
    for (int a = 0; a < format.bytesPerSample(); ++a) {
        double score = 0;
        for (const auto& w : windows)
            if (!w.empty() && !Constant(w))
                score += AudioScore(w.data(), w.size(), format, static_cast<std::uint32_t>(a));
        if (score > bestScore) bestScore = score, best = static_cast<std::uint32_t>(a);
    }
    return best;
}

void SettleAlignment(Detection& detection, std::uint32_t alignment) {
    if (detection.ranked.empty()) return;
    detection.ranked.front().alignment = alignment;
    detection.sure = detection.formatSure;
}

Detection DetectFormat(File& file, std::uint64_t from, std::uint64_t to) {
    return RankFormats(SampleWindows(file, from, to));
}

}  // namespace velmora
