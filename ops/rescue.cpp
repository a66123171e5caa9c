#include "ops/rescue.h"
#include "ops/records.h"
#include "ops/rules.h"
#include "ops/option_text.h"
#include "ops/rawwave.h"
#include "wav/rf64.h"
#include "wav/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ops/output_paths.h"
#include "io/file.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/header.h"
#include "wav/text.h"

namespace velmora {

namespace {

// A window of this many frames sounds like audio or not on its own.
constexpr std::uint64_t kLocateFrames = 2048;
// A stretch scores at least this to count as audio.
constexpr double kAudioScore = kSureScore;
// The alignment scan looks at no more windows than this, however long the file.
constexpr std::uint64_t kScanWindows = 2048;
constexpr std::size_t kCopyBlock = 1 << 20;
constexpr std::size_t kFrameCache = 1 << 20;
constexpr std::uint16_t kFormatFloat = 3;
// Channel levels (log mean distance from the mean) that differ by less
// than this in sum tell no rotation of the channels from another.
constexpr double kLevelLead = 0.05;
// The most one channel of one garbled frame costs where the cut is sought.
constexpr double kGarbledCost = 50.0;

// Reads single frames, decoded, through a block cache around the last one.
class FrameSource {
public:
    FrameSource(File& file, const RawSampleFormat& format) : file_(file), format_(format) {}
    // The frame at pos, or false past the end of the file.
    bool read(std::uint64_t pos, std::vector<double>& out) {
        const auto frame = static_cast<std::uint64_t>(format_.frameSize());
        if (pos < at_ || pos + frame > at_ + buf_.size()) {
            at_ = pos > kFrameCache / 2 ? pos - kFrameCache / 2 : 0;
            buf_.resize(kFrameCache);
            buf_.resize(file_.readAt(at_, buf_.data(), buf_.size()));
            if (pos + frame > at_ + buf_.size()) return false;
        }
        out.resize(static_cast<std::size_t>(format_.channels));
        const std::uint8_t* p = buf_.data() + (pos - at_);
        for (int c = 0; c < format_.channels; ++c)
            out[static_cast<std::size_t>(c)] = DecodeSample(p + c * format_.bytesPerSample(), format_.encoding);
        return true;
    }

private:
    File& file_;
    RawSampleFormat format_;
    std::vector<std::uint8_t> buf_;
    std::uint64_t at_ = 0;
};

// How far one frame of audio may lie from its neighbour (first step) and
// from the line through its two neighbours (second step), per channel.
struct JumpLimits {
    std::vector<double> first, second;
};

double Quantile99(std::vector<double> v) {
    if (v.empty()) return 0;
    auto at = v.begin() + static_cast<std::ptrdiff_t>(v.size() * 99 / 100);
    std::nth_element(v.begin(), at, v.end());
    return *at;
}

// Far beyond what the audio around the boundary does, yet mostly closer than
// a frame of junk bytes, which lands anywhere in the range.
JumpLimits LimitsFrom(const std::vector<std::uint8_t>& bytes, const RawSampleFormat& format) {
    const auto frame = static_cast<std::size_t>(format.frameSize());
    const std::size_t frames = bytes.size() / frame;
    const double least = format.isFloat() ? std::ldexp(1.0, -11) : std::max(2.0, std::ldexp(1.0, format.bits() - 12));
    JumpLimits limits;
    for (int c = 0; c < format.channels; ++c) {
        std::vector<double> x(frames), d1, d2;
        for (std::size_t t = 0; t < frames; ++t)
            x[t] = DecodeSample(bytes.data() + t * frame + static_cast<std::size_t>(c * format.bytesPerSample()),
                                format.encoding);
        for (std::size_t t = 2; t < frames; ++t) {
            d1.push_back(std::fabs(x[t] - x[t - 1]));
            d2.push_back(std::fabs(x[t] - 2 * x[t - 1] + x[t - 2]));
        }
        limits.first.push_back(std::max(least, 8 * Quantile99(d1)));
        limits.second.push_back(std::max(least, 8 * Quantile99(d2)));
    }
    return limits;
}

// Whether frame `next` continues `cur` (and `before`, the frame on cur's
// other side, when there is one).
bool Continues(const std::vector<double>& next, const std::vector<double>& cur, const std::vector<double>* before,
               const JumpLimits& limits) {
    for (std::size_t c = 0; c < next.size(); ++c) {
        if (std::fabs(next[c] - cur[c]) > limits.first[c]) return false;
        if (before && std::fabs(next[c] - 2 * cur[c] + (*before)[c]) > limits.second[c]) return false;
    }
    return true;
}

// The first frame of the chain of continuing frames that reaches back from
// the frame at `pos`, no earlier than `lowest`.
std::uint64_t WalkBack(FrameSource& source, std::uint64_t pos, std::uint64_t lowest, std::uint64_t frame,
                       const JumpLimits& limits) {
    std::vector<double> cur, after, prev;
    if (!source.read(pos, cur)) return pos;
    bool hasAfter = source.read(pos + frame, after);
    while (pos >= lowest + frame) {
        if (!source.read(pos - frame, prev) || !Continues(prev, cur, hasAfter ? &after : nullptr, limits)) break;
        after = std::move(cur);
        cur = std::move(prev);
        hasAfter = true;
        pos -= frame;
    }
    return pos;
}

// One past the last frame of the chain of continuing frames that reaches on
// from the frame at `pos`, no later than `highest`.
std::uint64_t WalkOn(FrameSource& source, std::uint64_t pos, std::uint64_t highest, std::uint64_t frame,
                     const JumpLimits& limits) {
    std::vector<double> cur, before, next;
    if (!source.read(pos, cur)) return pos;
    bool hasBefore = pos >= frame && source.read(pos - frame, before);
    while (pos + 2 * frame <= highest) {
        if (!source.read(pos + frame, next) || !Continues(next, cur, hasBefore ? &before : nullptr, limits)) break;
        before = std::move(cur);
        cur = std::move(next);
        hasBefore = true;
        pos += frame;
    }
    return pos + frame;
}

std::vector<std::uint8_t> ReadBytes(File& file, std::uint64_t at, std::uint64_t n) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(n));
    b.resize(file.readAt(at, b.data(), b.size()));
    return b;
}

double WindowScore(const std::vector<std::uint8_t>& w, const RawSampleFormat& format) {
    if (w.empty() || std::all_of(w.begin(), w.end(), [&](std::uint8_t b) { return b == w.front(); })) return 0;
    return AudioScore(w.data(), w.size(), format, 0);
}

// The score of every alignment of one window, relative to its start; empty
// for a silent window. Alignments a whole sample apart score alike.
std::vector<double> AlignmentScores(const std::vector<std::uint8_t>& w, const RawSampleFormat& format) {
    std::vector<double> scores;
    if (w.empty() || std::all_of(w.begin(), w.end(), [&](std::uint8_t b) { return b == w.front(); })) return scores;
    const int width = format.bytesPerSample();
    for (int a = 0; a < format.frameSize(); ++a)
        scores.push_back(a < width ? AudioScore(w.data(), w.size(), format, static_cast<std::uint32_t>(a))
                                   : scores[static_cast<std::size_t>(a % width)]);
    return scores;
}

// Each channel's spread (mean distance from its mean) in a window read at `alignment`.
std::vector<double> Levels(const std::vector<std::uint8_t>& w, const RawSampleFormat& format, std::uint32_t alignment) {
    const auto frame = static_cast<std::size_t>(format.frameSize());
    const std::size_t frames = w.size() > alignment ? (w.size() - alignment) / frame : 0;
    std::vector<double> levels(static_cast<std::size_t>(format.channels), 0.0);
    for (int c = 0; c < format.channels && frames > 0; ++c) {
        std::vector<double> x(frames);
        double mean = 0;
        for (std::size_t t = 0; t < frames; ++t)
            mean += x[t] =
                DecodeSample(w.data() + alignment + t * frame + static_cast<std::size_t>(c * format.bytesPerSample()),
                             format.encoding);
        mean /= static_cast<double>(frames);
        for (double v : x) levels[static_cast<std::size_t>(c)] += std::fabs(v - mean) / static_cast<double>(frames);
    }
    return levels;
}

// The pieces of the new data: bytes copied from the source, then frames
// repeating the last one written (where a lost byte garbled a frame).
struct Piece {
    std::uint64_t from = 0;
    std::uint64_t bytes = 0;
    std::uint64_t fillerFrames = 0;
};

std::uint64_t DataSizeOf(const std::vector<Piece>& pieces, std::uint64_t frame) {
    std::uint64_t n = 0;
    for (const auto& p : pieces) n += p.bytes + p.fillerFrames * frame;
    return n;
}

// Writes header and pieces. Blocks of zeros become holes where the output's
// file system keeps them, so a mostly silent (or sparse) source needs no
// more disk than its sounding parts.
void WritePieces(const std::string& path, File& source, const std::vector<std::uint8_t>& header,
                 const std::vector<Piece>& pieces, std::uint64_t frame, Host& host) {
    OutputFile out = OutputFile::Create(path, {&source});
    out.write(header.data(), header.size());
    const std::uint64_t total = DataSizeOf(pieces, frame);
    const std::uint64_t end = header.size() + total;
    std::vector<std::uint8_t> buf(kCopyBlock), last(static_cast<std::size_t>(frame), 0);
    std::uint64_t done = 0;
    for (const auto& piece : pieces) {
        for (std::uint64_t pos = 0; pos < piece.bytes;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.bytes - pos, kCopyBlock));
            if (source.readAt(piece.from + pos, buf.data(), want) != want)
                throw VelmoraError(TextCannotRead(source.path()));
            const bool zeros = std::all_of(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(want),
                                           [](std::uint8_t b) { return b == 0; });
            if (zeros && out.position() + want < end)
                out.seek(out.position() + want);
            else
                out.write(buf.data(), want);
            if (want >= frame) std::memcpy(last.data(), buf.data() + want - frame, static_cast<std::size_t>(frame));
            pos += want;
            done += want;
            host.progress(static_cast<int>(done * 100 / std::max<std::uint64_t>(total, 1)));
            host.pumpMessages();
        }
        for (std::uint64_t f = 0; f < piece.fillerFrames; ++f) out.write(last.data(), last.size());
        done += piece.fillerFrames * frame;
    }
    WritePad(out, total);
    out.commit();
    host.progress(100);
}

// The mask written into a rescued file: the usual one of 2, 4 or 6 channels,
// as ever; none for other counts, since a guessed layout does not belong in a
// file whose layout nobody told us.
std::uint32_t RescuedChannelMask(int channels) {
    return channels == 2 || channels == 4 || channels == 6 ? DefaultChannelMask(channels) : 0;
}

// A header for detected or given formats: plain for integer mono or stereo
// up to 16 bits (and float mono or stereo), extensible otherwise.
HeaderDescription NewHeader(const RawSampleFormat& format, std::int32_t rate) {
    const auto blockAlign = static_cast<std::int16_t>(format.frameSize());
    HeaderDescription h;
    h.format = {MakeFourCC("fmt "),
                16,
                format.isFloat() ? kFormatFloat : kFormatPcm,
                static_cast<std::int16_t>(format.channels),
                rate,
                ByteRate(rate, blockAlign),
                blockAlign,
                static_cast<std::int16_t>(format.bits())};
    if (format.channels > 2 || (format.bits() > 16 && !format.isFloat()))
        h.extension = FormatExtension{static_cast<std::uint16_t>(format.bits()), RescuedChannelMask(format.channels),
                                      format.isFloat() ? kFormatFloat : kFormatPcm};
    return h;
}

std::string RateNote(RateSource source) {
    switch (source) {
        case RateSource::Like: return "見本のファイルから";
        case RateSource::Header: return "ファイル自身のヘッダから";
        case RateSource::Given: return "指定";
        default: return "既定値";
    }
}

// The frames from `start` to `end`; with `realign`, split where the alignment
// changes, the garbled bytes between two stretches standing for the frames
// they held.
std::vector<Piece> PiecesOf(std::uint64_t start, std::uint64_t end, std::uint64_t frame,
                            const std::vector<AlignmentChange>& changes, bool realign) {
    std::vector<Piece> pieces;
    std::uint64_t cur = start;
    if (realign) {
        for (const auto& c : changes) {
            if (c.offset <= cur || c.offset >= end) continue;
            const std::uint64_t lastEnd = cur + (std::clamp(c.previousEnd, cur, c.offset) - cur) / frame * frame;
            pieces.push_back({cur, lastEnd - cur, (c.offset - lastEnd + frame / 2) / frame});
            cur = c.offset;
        }
    }
    pieces.push_back({cur, (end > cur ? end - cur : 0) / frame * frame, 0});
    return pieces;
}

// A window changes the reading only when the new alignment is clearly
// better there than the old: channels much alike make rotations of one
// reading score alike, and those must not count as shifts.
bool Clearly(const std::vector<double>& s, std::uint32_t better, std::uint32_t worse) {
    return !s.empty() && s[better] >= kAudioScore && s[better] - s[worse] >= kSureLead;
}

// The alignment scores of the window at `at`, cut at `to`.
std::vector<double> ScoresAt(File& file, std::uint64_t at, std::uint64_t to, const RawSampleFormat& format) {
    const std::uint64_t window = kDetectWindow;
    return AlignmentScores(ReadBytes(file, at, std::min(window, to - at)), format);
}

// Levels relative to their own mean: the sound grows louder or softer in
// every channel alike.
std::vector<double> LevelShape(const std::vector<double>& lv) {
    std::vector<double> l(lv.size());
    double mean = 0;
    for (std::size_t c = 0; c < lv.size(); ++c)
        mean += (l[c] = std::log(lv[c] + 1e-9)) / static_cast<double>(lv.size());
    for (double& v : l) v -= mean;
    return l;
}

// Of the channel rotations of the new reading `a` of the window at `at`, the
// one whose channels keep the levels they had in the window at `wasAt` read
// at `was`; on a tie, the fewest bytes away from `was`.
std::uint32_t KeepLevels(File& file, std::uint64_t to, const RawSampleFormat& format, std::uint64_t wasAt,
                         std::uint32_t was, std::uint64_t at, std::uint32_t a) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const std::uint64_t window = kDetectWindow;
    const auto width = static_cast<std::uint32_t>(format.bytesPerSample());
    const std::vector<double> levels = Levels(ReadBytes(file, wasAt, std::min(window, to - wasAt)), format, was);
    const std::vector<std::uint8_t> now = ReadBytes(file, at, std::min(window, to - at));
    const auto distance = [&](std::uint32_t x) {
        const std::uint32_t d = (x + static_cast<std::uint32_t>(frame) - was) % static_cast<std::uint32_t>(frame);
        return std::min(d, static_cast<std::uint32_t>(frame) - d);
    };
    const std::vector<double> wasShape = LevelShape(levels);
    const auto mismatch = [&](std::uint32_t x) {
        const std::vector<double> l = LevelShape(Levels(now, format, x));
        double m = 0;
        for (std::size_t c = 0; c < l.size(); ++c) m += std::fabs(l[c] - wasShape[c]);
        return m;
    };
    double best = mismatch(a);
    for (std::uint32_t x = a % width; x < frame; x += width) {
        const double m = mismatch(x);
        if (m < best - 0.05 || (m <= best + 0.05 && distance(x) < distance(a))) a = x, best = m;
    }
    return a;
}

// How badly each frame of one reading of `bytes` (taken from byte `lo`,
// its frames from byte `first` on) continues its channels: per channel the
// second difference over the two frames before it (`ahead`: after it),
// over the channel's lower quartile of them, capped so that a garbled frame
// counts as much as any.
std::vector<double> FrameCosts(const std::vector<std::uint8_t>& bytes, std::uint64_t lo, std::uint64_t first,
                               const RawSampleFormat& format, bool ahead) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const auto width = static_cast<std::uint64_t>(format.bytesPerSample());
    const std::size_t frames = static_cast<std::size_t>((lo + bytes.size() - first) / frame);
    std::vector<double> cost(frames, 0.0);
    const auto channels = static_cast<std::size_t>(format.channels);
    std::vector<std::vector<double>> bend(channels, std::vector<double>(frames, 0.0));
    const auto x = [&](std::size_t k, std::size_t c) {
        return DecodeSample(bytes.data() + (first - lo) + k * frame + c * width, format.encoding);
    };
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t k = 0; k < frames; ++k) {
            if (ahead ? k + 2 >= frames : k < 2) continue;
            const std::size_t k1 = ahead ? k + 1 : k - 1, k2 = ahead ? k + 2 : k - 2;
            bend[c][k] = std::fabs(x(k, c) - 2 * x(k1, c) + x(k2, c));
        }
        std::vector<double> sorted = bend[c];
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(frames / 4), sorted.end());
        const double scale = std::max(frames ? sorted[frames / 4] : 0.0, format.isFloat() ? 1e-7 : 0.5);
        for (std::size_t k = 0; k < frames; ++k) cost[k] += std::min(bend[c][k] / scale, kGarbledCost);
    }
    return cost;
}

// Which channel comes first after a cut: of the rotations of the new
// alignment, the one whose channels keep the levels they had relative to
// each other just before the cut (a lost byte and an added one both make
// smooth channels of the new reading; only the channels' own levels tell
// which is which). Kept as it is unless one rotation is clearly best.
void SettleCutRotation(const std::vector<std::uint8_t>& bytes, std::uint64_t lo, const RawSampleFormat& format,
                       AlignmentChange& change) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const auto width = static_cast<std::uint64_t>(format.bytesPerSample());
    const auto channels = static_cast<std::uint64_t>(format.channels);
    constexpr std::uint64_t kSideFrames = 1024;
    const std::uint64_t end = lo + bytes.size();
    const std::uint64_t side = std::min<std::uint64_t>(kSideFrames, (change.previousEnd - lo) / frame) * frame;
    if (channels == 1 || side < 64 * frame) return;
    const auto slice = [&](std::uint64_t from, std::uint64_t n) {
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from - lo),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(from - lo + n));
    };
    const std::vector<double> before = LevelShape(Levels(slice(change.previousEnd - side, side), format, 0));
    std::vector<std::pair<double, std::uint64_t>> mismatches;  // and the first new frame
    for (std::uint64_t r = 0; r < channels; ++r) {
        const std::uint64_t first =
            change.previousEnd + (lo + change.alignment + r * width + frame - change.previousEnd % frame) % frame;
        if (first + side > end) return;
        const std::vector<double> after = LevelShape(Levels(slice(first, side), format, 0));
        double m = 0;
        for (std::size_t c = 0; c < after.size(); ++c) m += std::fabs(after[c] - before[c]);
        mismatches.emplace_back(m, first);
    }
    const auto best = std::min_element(mismatches.begin(), mismatches.end());
    for (const auto& m : mismatches)
        if (&m != &*best && m.first < best->first + kLevelLead) return;
    change.offset = best->second;
    change.alignment = static_cast<std::uint32_t>((best->second - lo) % frame);
}

// The change from alignment `was` (last heard in the window at `wasAt`) to
// `a` (heard in the window at `at`): narrowed down to neighbouring windows,
// then to within a frame, where the old reading stops and the new one starts
// continuing its channels.
AlignmentChange PlaceChange(File& file, std::uint64_t to, const RawSampleFormat& format, std::uint64_t wasAt,
                            std::uint32_t was, std::uint64_t at, std::uint32_t a) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const std::uint64_t window = kDetectWindow;
    std::uint64_t lo = wasAt, hi = at;
    while (hi - lo > window) {
        const std::uint64_t mid = lo + (hi - lo) / 2 / kFrameLcm * kFrameLcm;
        if (mid == lo) break;
        const std::vector<double> m = ScoresAt(file, mid, to, format);
        if (Clearly(m, a, was))
            hi = mid;
        else if (Clearly(m, was, a))
            lo = mid;
        else
            break;
    }
    const std::uint64_t end = std::min(to, hi + window);
    const std::vector<std::uint8_t> bytes = ReadBytes(file, lo, end - lo);
    const std::uint64_t firstOld = lo + was, firstNew = lo + a;
    // The old reading judged by the frames before each frame, the new one by
    // those after it: each only ever over bytes it reads rightly.
    const std::vector<double> oldCost = FrameCosts(bytes, lo, firstOld, format, false);
    const std::vector<double> newCost = FrameCosts(bytes, lo, firstNew, format, true);
    // The cut: the old frames before it and the new ones after it cost least.
    std::vector<double> after(newCost.size() + 1, 0.0);
    for (std::size_t k = newCost.size(); k-- > 0;) after[k] = after[k + 1] + newCost[k];
    double before = 0, best = -1;
    AlignmentChange change{firstOld, firstOld, was, a};
    for (std::size_t k = 0; k <= oldCost.size(); ++k) {
        const std::uint64_t cut = firstOld + k * frame;
        const std::size_t j = cut <= firstNew ? 0 : static_cast<std::size_t>((cut - firstNew + frame - 1) / frame);
        const double cost = before + (j < after.size() ? after[j] : 0.0);
        if (best < 0 || cost < best) best = cost, change.previousEnd = cut, change.offset = firstNew + j * frame;
        if (k < oldCost.size()) before += oldCost[k];
    }
    SettleCutRotation(bytes, lo, format, change);
    return change;
}

// The header a rescue starts from: a copy of the healthy file's, or nothing
// yet without one.
struct StartingHeader {
    HeaderDescription description;
    std::uint64_t likeSize = 0;      // the healthy file's header, up to its samples
    std::uint64_t likeFormatAt = 0;  // its format chunk
};

// The healthy file's header, format and rate, then the rate asked for, in
// the report and in the copied header.
StartingHeader StartHeader(const RescueOptions& options, RescueReport& r) {
    StartingHeader start;
    HeaderDescription& header = start.description;
    if (!options.like.empty()) {
        WaveInfo info;
        const AnalysisResult result = AnalyzeWave(options.like, info);
        const int bits = info.format.bitsPerSample;
        const bool isFloat = info.format.formatTag == kFormatFloat ||
                             (info.format.formatTag == kFormatExtensible && info.subFormatTag == kFormatFloat);
        if (!result.complete() || info.format.channels <= 0 ||
            info.format.blockAlign != info.format.channels * bits / 8 ||
            (bits != 8 && bits != 16 && bits != 24 && bits != 32) || (isFloat && bits != 32))
            throw VelmoraError(TextLikeUnreadable(options.like));
        r.format = {info.format.channels, EncodingOf(bits, isFloat)};
        r.rate = info.format.samplesPerSec;
        r.rateSource = options.ownHeader ? RateSource::Header : RateSource::Like;
        start.likeSize = info.dataStart();
        start.likeFormatAt = static_cast<std::uint64_t>(info.fmtChunkPos);
        File like = File::OpenRead(options.like);
        header.format = info.format;  // its frame size, for the sample count past 4 GiB
        header.copied = ReadBytes(like, 0, start.likeSize);
        if (header.copied.size() != start.likeSize) throw VelmoraError(TextCannotRead(options.like));
    }
    if (options.rate) {
        r.rate = *options.rate;
        r.rateSource = RateSource::Given;
        // The healthy file's header, at the rate asked for.
        if (!header.copied.empty() && start.likeFormatAt + FormatBlock::kSize <= header.copied.size()) {
            FormatBlock fmt = FormatBlock::Decode(header.copied.data() + start.likeFormatAt);
            fmt.samplesPerSec = r.rate;
            fmt.avgBytesPerSec = ByteRate(r.rate, fmt.blockAlign);
            fmt.Encode(header.copied.data() + start.likeFormatAt);
        }
    }
    return start;
}

// The format and the first frame's alignment: the healthy file's format,
// the one given or the detected one. The ends of the audio may settle the
// channel order of the last two, which get a new header.
// A detection to write by: audio, and sure of its reading.
void RequireSure(const Detection& d) {
    if (d.ranked.empty() || d.notAudio) throw VelmoraError(kTextNoAudioFound);
    if (!d.sure) throw VelmoraError(kTextFormatNotSure);
}

void ChooseFormat(const RescueOptions& options, File& source, std::uint64_t length, RescueReport& r,
                  HeaderDescription& header) {
    const std::vector<std::vector<std::uint8_t>> windows = SampleWindows(source, 0, length);
    if (!options.like.empty()) {
        r.alignment = BestAlignment(windows, r.format);
        return;
    }
    if (options.format) {
        r.format = *options.format;
        r.alignment = BestAlignment(windows, r.format);
        if (const auto s = LocateAudio(source, 0, length, r.format, r.alignment))
            r.alignment = SettleRotation(source, r.format, r.alignment, *s).value_or(r.alignment);
    } else {
        r.detection = DetectAudio(source);
        const Detection& d = *r.detection;
        RequireSure(d);
        r.format = d.ranked.front().format;
        r.alignment = d.ranked.front().alignment;
    }
    header = NewHeader(r.format, r.rate);
}

// The alignment changes over the file; returns the alignment of the first
// stretch read.
std::uint32_t ScanChanges(const RescueOptions& options, File& source, std::uint64_t length, RescueReport& r) {
    const auto width = static_cast<std::uint32_t>(r.format.bytesPerSample());
    r.changes = ScanAlignment(source, 0, length, r.format, r.alignment);
    // The stretch starts at the first alignment read and ends at the last one.
    std::uint32_t firstAlignment = r.changes.empty() ? r.alignment : r.changes.front().previous;
    if (options.realign && options.like.empty() && !r.changes.empty()) {
        // The first stretch's own start settles its channel order.
        const std::optional<Stretch> s = LocateAudio(source, 0, length, r.format, firstAlignment);
        const std::optional<std::uint32_t> a = s ? SettleRotation(source, r.format, firstAlignment, *s) : std::nullopt;
        if (a && *a != firstAlignment && *a % width == firstAlignment % width) {
            r.changes = ScanAlignment(source, 0, length, r.format, *a);
            firstAlignment = r.changes.empty() ? *a : r.changes.front().previous;
        }
    }
    return firstAlignment;
}

// Where the audio starts and ends: the located stretch, or, after a healthy
// file's header, the frames from that header's length to the end.
void PlaceAudio(const RescueOptions& options, File& source, std::uint64_t length, std::uint64_t likeHeader,
                std::uint32_t firstAlignment, RescueReport& r) {
    const auto frame = static_cast<std::uint64_t>(r.format.frameSize());
    const std::uint32_t lastAlignment = r.changes.empty() ? r.alignment : r.changes.back().alignment;
    const std::uint32_t startAlignment = options.realign ? firstAlignment : r.alignment;
    const std::optional<Stretch> head = LocateAudio(source, 0, length, r.format, startAlignment);
    if (!head) throw VelmoraError(kTextNoAudioFound);
    r.start = head->start;
    if (!options.like.empty()) {
        // A zeroed or damaged header as long as the healthy one: the samples
        // start right after it; a mess of another length ends where the
        // frames begin to continue each other.
        std::vector<std::uint8_t> lead = ReadBytes(source, 0, std::min(likeHeader, length));
        const bool zeroed = std::all_of(lead.begin(), lead.end(), [](std::uint8_t b) { return b == 0; });
        // Audio from the very start is a header that is missing altogether.
        if (likeHeader % frame == startAlignment && likeHeader <= length && (zeroed || r.start > startAlignment))
            r.start = likeHeader;
        // The samples run in whole frames to the end of the file.
        const std::uint32_t endAlignment = options.realign ? lastAlignment : r.alignment;
        r.end = length - (length - endAlignment) % frame;
        if (r.end < r.start) r.end = r.start;
    } else if (options.realign && lastAlignment != firstAlignment) {
        const std::optional<Stretch> tail = LocateAudio(source, 0, length, r.format, lastAlignment);
        r.end = tail ? tail->end : length;
    } else {
        r.end = head->end;
    }
}


// Frames inside the audio the edge search starts from, and the most it walks
// beyond the located stretch.
constexpr std::uint64_t kEdgeFrames = 16;
constexpr std::uint64_t kEdgeReach = 256;
// Frames the audio's own prediction errors are measured over at each end.
constexpr std::uint64_t kEdgeModelFrames = 1024;
// A sample continues its channel within this many times the 99th percentile
// of the channel's own errors.
constexpr double kEdgeTolerance = 2.0;
// The chance that junk passed for audio at an edge: at most this and the
// edge decides alone; two ends that agree, at most this together.
constexpr double kStrongEdge = 0.01;
constexpr double kAgreeingEdges = 0.02;
// An edge junk could fake this easily counts for little against a strong one.
constexpr double kWeakEdge = 0.1;
// Float samples of sound, but for 0, are no smaller (-140 dB).
constexpr double kFloatFloor = 1e-7;
// Frames inwards of a sample whose level sets its tolerance at an edge.
constexpr std::uint64_t kLevelFrames = 8;
// Frames apart that channels are compared for likeness at an edge.
constexpr std::uint64_t kLikeLag = 16;

// Where the audio begins (or ends), to the sample, and the chance that the
// sample beyond it was junk that happened to fit (0 at the file's own edge).
struct EdgeVerdict {
    std::optional<std::uint64_t> edge;
    double chance = 1;
};

// The position of a float among all bit patterns in the order of their
// values, and the share of all patterns within [lo, hi].
double FloatRank(double v, SampleEncoding encoding) {
    double magnitude;
    if (encoding == SampleEncoding::F32) {
        const float f = static_cast<float>(std::fabs(v));
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        magnitude = bits;
    } else {
        const double d = std::fabs(v);
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        magnitude = static_cast<double>(bits);
    }
    return v < 0 ? -magnitude : magnitude;
}

double FloatShare(double lo, double hi, SampleEncoding encoding) {
    const double all = encoding == SampleEncoding::F32 ? 4294967296.0 : 18446744073709551616.0;
    return std::min(1.0, (FloatRank(hi, encoding) - FloatRank(lo, encoding)) / all);
}

// A frame surely inside the audio near one end of a located stretch (the
// frame walk that located it lets quiet junk pass): the second block of
// frames from that end that sounds like audio on its own.
std::optional<std::uint64_t> InsideAudio(const std::vector<std::uint8_t>& bytes, std::uint64_t lo,
                                         const RawSampleFormat& format, std::uint64_t edge, bool head) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const std::uint64_t block = kEdgeFrames * 4 * frame;
    const std::uint64_t hi = lo + bytes.size();
    int sounding = 0;
    for (std::uint64_t at = head ? edge : edge - block; at >= lo && at + block <= hi;
         at = head ? at + block : at - block) {
        if (AudioScore(bytes.data() + (at - lo), block, format, 0) >= kAudioScore && ++sounding == 2)
            return head ? at : at + block - frame;
        if (!head && at < lo + block) break;
    }
    return std::nullopt;
}

// The bytes around one end of a located stretch, and what each channel's
// samples there may do: a sample continues its channel when it lies within
// the tolerance of both the last sample and the line through the last two
// (seen from inside the audio).
class EdgeModel {
public:
    EdgeModel(File& file, const RawSampleFormat& format, std::uint64_t start, std::uint64_t end, bool head)
        : format_(format),
          head_(head),
          start_(start),
          frame_(static_cast<std::uint64_t>(format.frameSize())),
          width_(static_cast<std::uint64_t>(format.bytesPerSample())) {
        const std::uint64_t length = file.size();
        // The errors are measured over span_ frames from the first frame
        // surely inside, which may lie well in from the located end.
        span_ = std::min<std::uint64_t>(kEdgeModelFrames, (end - start) / frame_ / 4) * frame_;
        const std::uint64_t inner = 2 * span_;
        lo_ = head ? (start > kEdgeReach * frame_ ? start - kEdgeReach * frame_ : start % width_) : end - inner;
        hi_ = head ? start + inner : std::min(length, end + kEdgeReach * frame_);
        atFileEdge_ = head ? lo_ == start % width_ : hi_ == length;
        bytes_ = ReadBytes(file, lo_, hi_ - lo_);
        hi_ = lo_ + bytes_.size();
        inside_ = InsideAudio(bytes_, lo_, format, head ? start : end, head);
        if (inside_)
            Measure(head ? *inside_ : std::max(lo_, *inside_ > span_ ? *inside_ - span_ : 0),
                    head ? std::min(hi_, *inside_ + span_) - 2 * frame_ : *inside_);
    }

    std::optional<std::uint64_t> inside() const { return inside_; }
    bool atFileEdge() const { return atFileEdge_; }
    // Whether a sample outwards of `at` is there to test.
    bool room(std::uint64_t at) const { return head_ ? at >= lo_ + width_ : at + 2 * width_ <= hi_; }
    std::uint64_t outwards(std::uint64_t at) const { return head_ ? at - width_ : at + width_; }

    // The values the sample at `at` may take to continue its channel, and
    // to follow the channel most like it.
    std::pair<double, double> Allowed(std::uint64_t at) const {
        const std::size_t c = ChannelOf(at);
        const double n1 = X(head_ ? at + frame_ : at - frame_), n2 = X(head_ ? at + 2 * frame_ : at - 2 * frame_);
        const double level = LevelNear(at);
        const double t1 = kEdgeTolerance * std::max(relative1_[c] * level, scale1_[c]),
                     t2 = kEdgeTolerance * std::max(relative2_[c] * level, scale2_[c]);
        std::pair<double, double> range{std::max(n1 - t1, 2 * n1 - n2 - t2), std::min(n1 + t1, 2 * n1 - n2 + t2)};
        if (const auto& like = likest_[c]) {
            const std::uint64_t from = LikePosition(at, c, *like);
            if (from >= lo_ && from + width_ <= hi_) {
                const double v = like->factor * X(from), t = kEdgeTolerance * like->scale;
                range = {std::max(range.first, v - t), std::min(range.second, v + t)};
            }
        }
        return range;
    }
    // Floats of sound are 0 or above a floor far below the quietest sound,
    // where random bytes read as floats mostly land (half of all bit
    // patterns are under 1 in size, most of those tiny).
    bool Continues(std::uint64_t at) const {
        const auto [low, high] = Allowed(at);
        const double v = X(at);
        if (format_.isFloat() && v != 0 && std::fabs(v) < kFloatFloor) return false;
        return v >= low && v <= high;
    }
    // The chance that random bytes in place of the sample at `at` would have
    // continued its channel (for floats: the share of all bit patterns).
    double Chance(std::uint64_t at) const {
        const auto [low, high] = Allowed(at);
        if (high < low) return 0;
        if (!format_.isFloat()) return std::min(1.0, (high - low + 1) / std::ldexp(1.0, format_.bits()));
        const double below = std::max(low, -kFloatFloor), above = std::min(high, kFloatFloor);
        return FloatShare(low, high, format_.encoding) -
               (below < above ? FloatShare(below, above, format_.encoding) : 0.0);
    }

private:
    double X(std::uint64_t at) const { return DecodeSample(bytes_.data() + (at - lo_), format_.encoding); }
    // The mean size of the channel's samples just inwards of `at` (and at
    // least a step of the samples).
    double LevelNear(std::uint64_t at) const {
        double sum = 0;
        for (std::uint64_t k = 1; k <= kLevelFrames; ++k)
            sum += std::fabs(X(head_ ? at + k * frame_ : at - k * frame_));
        return std::max(sum / kLevelFrames, format_.isFloat() ? 1e-7 : 1.0);
    }
    std::size_t ChannelOf(std::uint64_t at) const {
        const auto k =
            (static_cast<std::int64_t>(at) - static_cast<std::int64_t>(start_)) / static_cast<std::int64_t>(width_);
        const std::int64_t channels = format_.channels;
        return static_cast<std::size_t>((k % channels + channels) % channels);
    }
    // Each channel's 99th percentile of both errors over [from, to), and the
    // channel most like it.
    void Measure(std::uint64_t from, std::uint64_t to) {
        const double least = format_.isFloat() ? 1e-7 : 0.5;
        for (int c = 0; c < format_.channels; ++c) {
            // Errors relative to the channel's level where they are made: an
            // abrupt loud start errs more than the quieter sound after it.
            std::vector<double> e1, e2, r1, r2;
            for (std::uint64_t at = from + static_cast<std::uint64_t>(c) * width_;
                 at + (kLevelFrames + 1) * frame_ <= to; at += frame_) {
                if (!head_ && at < lo_ + (kLevelFrames + 1) * frame_) continue;
                const double n1 = X(head_ ? at + frame_ : at - frame_),
                             n2 = X(head_ ? at + 2 * frame_ : at - 2 * frame_), level = LevelNear(at);
                e1.push_back(std::max(std::fabs(X(at) - n1), least));
                e2.push_back(std::max(std::fabs(X(at) - 2 * n1 + n2), least));
                r1.push_back(e1.back() / level);
                r2.push_back(e2.back() / level);
            }
            scale1_.push_back(Quantile99(e1));
            scale2_.push_back(Quantile99(e2));
            relative1_.push_back(Quantile99(r1));
            relative2_.push_back(Quantile99(r2));
            likest_.push_back(Likest(static_cast<std::size_t>(c), from, to, least));
        }
    }

    // Another channel `lag` frames inwards (or one inwards of it in the same
    // frame), times `factor`: microphones of one scene hear the same sound a
    // little later or earlier, louder or softer.
    struct Likeness {
        std::size_t channel = 0;
        std::uint64_t lag = 0;
        double factor = 0, scale = 0;
    };
    std::uint64_t LikePosition(std::uint64_t at, std::size_t c, const Likeness& l) const {
        const std::uint64_t shifted = at + l.channel * width_ - c * width_;
        return head_ ? shifted + l.lag * frame_ : shifted - l.lag * frame_;
    }
    std::optional<Likeness> Likest(std::size_t c, std::uint64_t from, std::uint64_t to, double least) const {
        // This channel's samples, and for each candidate the other's beside them.
        std::vector<std::uint64_t> positions;
        for (std::uint64_t at = from + c * width_ + 2 * kLikeLag * frame_; at + 2 * kLikeLag * frame_ < to;
             at += frame_)
            positions.push_back(at);
        if (positions.empty()) return std::nullopt;
        std::optional<Likeness> best;
        double bestError = 0;
        const auto channels = static_cast<std::size_t>(format_.channels);
        for (std::size_t other = 0; other < channels; ++other) {
            for (std::uint64_t lag = 0; lag <= kLikeLag && other != c; ++lag) {
                // Only samples the walk has passed already: inwards of this one.
                if (lag == 0 && (head_ ? other < c : other > c)) continue;
                Likeness l{other, lag, 0, 0};
                double xy = 0, yy = 0, sum = 0;
                for (std::uint64_t at : positions) {
                    const double y = X(LikePosition(at, c, l));
                    xy += X(at) * y, yy += y * y;
                }
                l.factor = yy > 0 ? xy / yy : 0;
                for (std::uint64_t at : positions) sum += std::fabs(X(at) - l.factor * X(LikePosition(at, c, l)));
                if (!best || sum < bestError) best = l, bestError = sum;
            }
        }
        if (!best) return best;
        std::vector<double> errors;
        for (std::uint64_t at : positions)
            errors.push_back(std::fabs(X(at) - best->factor * X(LikePosition(at, c, *best))));
        best->scale = std::max(Quantile99(errors), least);
        return best;
    }

    RawSampleFormat format_;
    bool head_;
    std::uint64_t start_, frame_, width_, span_ = 0, lo_ = 0, hi_ = 0;
    bool atFileEdge_ = false;
    std::vector<std::uint8_t> bytes_;
    std::optional<std::uint64_t> inside_;
    std::vector<double> scale1_, scale2_, relative1_, relative2_;
    std::vector<std::optional<Likeness>> likest_;
};

// One end of the stretch, sample by sample: from inside the audio outwards
// while each sample continues its channel. `head` for the start.
EdgeVerdict FindEdge(File& file, const RawSampleFormat& format, std::uint64_t start, std::uint64_t end, bool head) {
    const EdgeModel model(file, format, start, end, head);
    if (!model.inside()) return {};
    const auto width = static_cast<std::uint64_t>(format.bytesPerSample());
    EdgeVerdict v;
    for (std::uint64_t at = *model.inside();; at = model.outwards(at)) {
        // The edge is wrong when the sample inside it was junk that fitted;
        // the file's own start or end has no junk beyond it.
        if (!model.room(at)) {
            if (model.atFileEdge()) v.edge = head ? at : at + width, v.chance = model.Chance(at);
            return v;
        }
        if (!model.Continues(model.outwards(at))) {
            v.edge = head ? at : at + width;
            v.chance = model.Chance(at);
            return v;
        }
    }
}
}  // namespace

std::string TextLikeUnreadable(const std::string& path) {
    return Format("見本のファイル %s の形式を読めません", path.c_str());
}

std::optional<Stretch> LocateAudio(File& file, std::uint64_t from, std::uint64_t to, const RawSampleFormat& format,
                                   std::uint32_t alignment) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    const std::uint64_t first = from + alignment;
    if (first + frame > to) return std::nullopt;
    const std::uint64_t frames = (to - first) / frame;
    const std::uint64_t window = kLocateFrames * frame;
    const std::uint64_t windows = (frames + kLocateFrames - 1) / kLocateFrames;
    const auto windowAt = [&](std::uint64_t k) {
        const std::uint64_t at = first + k * window;
        return ReadBytes(file, at, std::min(window, (to - at) / frame * frame));
    };
    // The first and last windows that sound like audio: junk before and after
    // is skipped window by window, never the whole file read for it.
    std::optional<std::uint64_t> head, tail;
    for (std::uint64_t k = 0; k < windows && !head; ++k)
        if (WindowScore(windowAt(k), format) >= kAudioScore) head = k;
    if (!head) return std::nullopt;
    for (std::uint64_t k = windows; k-- > *head && !tail;)
        if (WindowScore(windowAt(k), format) >= kAudioScore) tail = k;

    FrameSource source(file, format);
    Stretch s;
    // From inside each end window outwards, frame by frame; a window that
    // sounds may still hold junk at its edge (its score is the median of its
    // blocks), so the walks start, and take their limits, one window in.
    const std::uint64_t headIn = std::min(*head + 1, *tail), tailIn = std::max(*tail > 0 ? *tail - 1 : 0, headIn);
    const std::uint64_t headMid = first + headIn * window + window / 2 / frame * frame;
    const JumpLimits headLimits = LimitsFrom(windowAt(headIn), format);
    s.start = WalkBack(source, std::min(headMid, first + (frames - 1) * frame), first, frame, headLimits);
    const std::uint64_t tailMid = first + tailIn * window + window / 2 / frame * frame;
    const JumpLimits tailLimits = LimitsFrom(windowAt(tailIn), format);
    s.end = WalkOn(source, std::max(s.start, std::min(tailMid, first + (frames - 1) * frame)), first + frames * frame,
                   frame, tailLimits);
    return s;
}

std::optional<std::uint32_t> SettleRotation(File& file, const RawSampleFormat& format, std::uint32_t,
                                            const Stretch& stretch) {
    const auto frame = static_cast<std::uint64_t>(format.frameSize());
    if (stretch.end < stretch.start + 4 * kEdgeFrames * frame) return std::nullopt;
    const EdgeVerdict head = FindEdge(file, format, stretch.start, stretch.end, true);
    const EdgeVerdict tail = FindEdge(file, format, stretch.start, stretch.end, false);
    const auto alignmentAt = [&](std::uint64_t byte) { return static_cast<std::uint32_t>(byte % frame); };
    // Two ends that agree settle it, unless junk could easily have passed for
    // audio at both. Of two that disagree, one junk could hardly fake
    // outweighs one it easily could (whose outermost samples were probably
    // junk that fitted); two ends equally strong that disagree (an attack
    // that follows from nothing, a recording cut mid-frame) settle nothing.
    const auto strong = [](const EdgeVerdict& v) { return v.edge && v.chance <= kStrongEdge; };
    const auto weak = [](const EdgeVerdict& v) { return !v.edge || v.chance >= kWeakEdge; };
    if (head.edge && tail.edge && alignmentAt(*head.edge) == alignmentAt(*tail.edge))
        return head.chance * tail.chance <= kAgreeingEdges ? std::optional(alignmentAt(*head.edge)) : std::nullopt;
    if (strong(head) && weak(tail)) return alignmentAt(*head.edge);
    if (strong(tail) && weak(head)) return alignmentAt(*tail.edge);
    return std::nullopt;
}

std::vector<AlignmentChange> ScanAlignment(File& file, std::uint64_t from, std::uint64_t to,
                                           const RawSampleFormat& format, std::optional<std::uint32_t> reference) {
    std::vector<AlignmentChange> changes;
    if (to <= from) return changes;
    const std::uint64_t window = kDetectWindow;
    const auto width = static_cast<std::uint32_t>(format.bytesPerSample());
    std::uint64_t stride = std::max<std::uint64_t>(window, (to - from) / kScanWindows);
    stride = (stride + kFrameLcm - 1) / kFrameLcm * kFrameLcm;
    std::optional<std::pair<std::uint64_t, std::uint32_t>> known;  // last window that sounded, and its alignment
    for (std::uint64_t at = from; at < to; at += stride) {
        const std::vector<double> s = ScoresAt(file, at, to, format);
        if (s.empty()) continue;
        auto a = static_cast<std::uint32_t>(std::max_element(s.begin(), s.end()) - s.begin());
        if (s[a] < kAudioScore) continue;
        if (!known) {
            known = {at, reference && *reference % width == a % width ? *reference : a};
            continue;
        }
        // Rotations of the channels are no shift of the bytes.
        if (a % width == known->second % width || !Clearly(s, a, known->second)) {
            known->first = at;
            continue;
        }
        a = KeepLevels(file, to, format, known->first, known->second, at, a);
        changes.push_back(PlaceChange(file, to, format, known->first, known->second, at, a));
        known = {at, a};
    }
    return changes;
}

// The refusals a rescue meets before it writes (a healthy recording it
// cannot read, no audio, a format it is not sure of, a layout it cannot
// write), for a dry run to meet them too: one detection, nothing written.
void CheckRescue(const RescueOptions& options, RescueReport* report) {
    if (options.source.empty()) return;
    RescueReport local;
    RescueReport& r = report ? *report : local;
    StartingHeader start = StartHeader(options, r);
    File source = File::OpenRead(options.source);
    ChooseFormat(options, source, source.size(), r, start.description);
    const auto frame = static_cast<std::uint64_t>(r.format.frameSize());
    if (frame == 0 || kFrameLcm % frame != 0) throw VelmoraError(kTextRescueLayout);
}

void CheckDetectedRaw(const std::string& rawPath, bool formatGiven, RescueReport* report) {
    if (formatGiven || rawPath.empty()) return;
    File source = File::OpenRead(rawPath);
    RescueReport local;
    RescueReport& r = report ? *report : local;
    r.detection = DetectRawFormat(source);
    RequireSure(*r.detection);
}

std::vector<std::string> RescueRecording(const RescueOptions& options, Host& host, RescueReport* report) {
    if (options.source.empty()) return {};
    RescueReport local;
    RescueReport& r = report ? *report : local;
    StartingHeader start = StartHeader(options, r);
    HeaderDescription& header = start.description;

    File source = File::OpenRead(options.source);
    const std::uint64_t length = source.size();
    ChooseFormat(options, source, length, r, header);
    const auto frame = static_cast<std::uint64_t>(r.format.frameSize());
    // Windows are taken a multiple of kFrameLcm apart so that alignments read
    // in any of them agree.
    if (frame == 0 || kFrameLcm % frame != 0) throw VelmoraError(kTextRescueLayout);

    const auto width = static_cast<std::uint32_t>(r.format.bytesPerSample());
    if (!options.like.empty()) {
        // The healthy header's length places the first frame; the sound alone
        // may not tell which channel comes first.
        const auto atHeader = static_cast<std::uint32_t>(start.likeSize % frame);
        if (atHeader % width == r.alignment % width) r.alignment = atHeader;
    }
    const std::uint32_t firstAlignment = ScanChanges(options, source, length, r);
    PlaceAudio(options, source, length, start.likeSize, firstAlignment, r);

    const std::vector<Piece> pieces = PiecesOf(r.start, r.end, frame, r.changes, options.realign);
    r.dataSize = DataSizeOf(pieces, frame);

    host.log(Format("形式 %s、サンプリング周波数 %dHz(%s)", FormatLabel(r.format).c_str(), r.rate,
                    RateNote(r.rateSource).c_str()));
    host.log(Format("音声 %s～%s バイト目", GroupThousands(r.start).c_str(), GroupThousands(r.end).c_str()));
    for (const auto& c : r.changes)
        host.log(Format("%s バイト目から読み位置がずれています", GroupThousands(c.offset).c_str()));

    const std::string path = RescueOutputPath(options);
    header.dataSize = r.dataSize;
    WritePieces(path, source, EncodeHeader(header), pieces, frame, host);
    return {path};
}

std::string RescueOutputPath(const RescueOptions& options) {
    return OutputPath(options.outputFolder, options.source, options.realign ? "(realign).wav" : "(rescue).wav");
}

std::string DetectedRawOutputPath(const std::string& rawPath, const std::string& outputFolder) {
    return OutputPathKeepingExtension(outputFolder, rawPath, "(wavemaker).wav");
}

Detection DetectAudio(File& file) {
    const std::uint64_t length = file.size();
    Detection d = DetectFormat(file, 0, length);
    if (d.ranked.empty() || !d.formatSure) return d;
    const FormatGuess& best = d.ranked.front();
    // One channel: the sample phase is the frame start.
    if (best.format.channels == 1) {
        SettleAlignment(d, best.alignment);
        return d;
    }
    // Which channel comes first: where the audio begins or ends, to the byte.
    const std::optional<Stretch> s = LocateAudio(file, 0, length, best.format, best.alignment);
    if (const auto a = s ? SettleRotation(file, best.format, best.alignment, *s) : std::nullopt) SettleAlignment(d, *a);
    return d;
}

Detection DetectRawFormat(File& source) { return DetectAudio(source); }

std::vector<std::string> RawToWaveDetected(const std::string& rawPath, std::optional<std::int32_t> rate,
                                           const std::string& outputFolder, Host& host, RescueReport* report) {
    if (rawPath.empty()) return {};
    RescueReport local;
    RescueReport& r = report ? *report : local;
    File source = File::OpenRead(rawPath);
    const std::uint64_t length = source.size();
    r.detection = DetectRawFormat(source);
    RequireSure(*r.detection);
    r.format = r.detection->ranked.front().format;
    r.alignment = r.detection->ranked.front().alignment;
    if (rate) r.rate = *rate, r.rateSource = RateSource::Given;
    const auto frame = static_cast<std::uint64_t>(r.format.frameSize());
    // The whole file from its first whole frame, as the plain wrapper takes it all.
    r.start = std::min<std::uint64_t>(r.alignment, length);
    r.end = r.start + (length - r.start) / frame * frame;
    r.dataSize = r.end - r.start;
    host.log(Format("形式 %s、サンプリング周波数 %dHz(%s)", FormatLabel(r.format).c_str(), r.rate,
                    RateNote(r.rateSource).c_str()));
    const std::string path = DetectedRawOutputPath(rawPath, outputFolder);
    HeaderDescription header = NewHeader(r.format, r.rate);
    header.dataSize = r.dataSize;
    WritePieces(path, source, EncodeHeader(header), {{r.start, r.dataSize, 0}}, frame, host);
    return {path};
}


bool StartsAsRiff(const std::string& path) {
    try {
        File f = File::OpenRead(path);
        std::uint8_t id[4] = {};
        return f.readAt(0, id, 4) == 4 && (MatchChunkId(id, "RIFF") || HasRf64Id(id));
    } catch (const VelmoraError&) {
        return false;
    }
}

namespace {

void CheckInteger(const std::string& text) { ParseInteger(text); }

constexpr VerbOption kRescueOptions[] = {
    {"--like", "A healthy recording of the same recorder: rescue FILE into FILE(rescue).wav with its format",
     OptionKind::Value, "GOOD"},
    {"--rate", "Sampling frequency of a rescued file (default: --like's, else 48000)", OptionKind::Value, nullptr,
     CheckInteger},
    {"--channels", "Channels of a file without a header (instead of detecting): 1, 2, 3, 4, 6 or 8", OptionKind::Value,
     nullptr, nullptr, nullptr, false, "1,2,3,4,6,8"},
    {"--bits", "Bits per sample of a file without a header: 8, 16, 24 or 32", OptionKind::Value, nullptr, nullptr,
     nullptr, false, "8,16,24,32"},
    {"--float", "32-bit float samples (a file without a header)", OptionKind::Flag},
    {"--realign", "Read each stretch at its own alignment after a lost or extra byte: FILE(realign).wav",
     OptionKind::Flag},
};

constexpr VerbOption kDetectOptions[] = {
    {"--detect",
     "Detect channels, sample format and start from the samples; refuse when not sure unless --bits or --mono is "
     "given",
     OptionKind::Flag},
};

int IntegerOption(const OptionValues& o, const char* key) { return o.has(key) ? std::stoi(o.text(key)) : 0; }

}  // namespace

RescueOptions RescueOptionsOf(const Subject& s) {
    RescueOptions o;
    o.source = s.path;
    o.like = s.options.text("like");
    o.realign = s.options.flag("realign");
    if (s.options.has("rate")) o.rate = ParseInteger(s.options.text("rate"));
    const int channels = IntegerOption(s.options, "channels");
    const int bits = IntegerOption(s.options, "bits");
    const bool isFloat = s.options.flag("float");
    if (channels != 0 || bits != 0 || isFloat)
        o.format = RawSampleFormat{channels ? channels : 2, EncodingOf(isFloat ? 32 : (bits ? bits : 16), isFloat)};
    // A healthy header of its own tells the format of a file to realign.
    if (o.like.empty() && !o.format && o.realign && StartsAsRiff(s.path)) o.like = s.path, o.ownHeader = true;
    return o;
}

std::vector<std::string> RunDetectedRaw(const Subject& s, Host& host, RescueReport* report) {
    const std::optional<std::int32_t> rate =
        s.options.has("rate") ? std::optional<std::int32_t>(ParseInteger(s.options.text("rate"))) : std::nullopt;
    try {
        return RawToWaveDetected(s.path, rate, s.options.text("output"), host, report);
    } catch (const VelmoraError& e) {
        // The user's own format, when given, stands in for a detection that
        // is not sure, or that heard no audio at all.
        const bool formatGiven = s.options.has("bits") || s.options.has("mono");
        const bool undecided =
            std::strcmp(e.what(), kTextFormatNotSure) == 0 || std::strcmp(e.what(), kTextNoAudioFound) == 0;
        if (!formatGiven || !undecided) throw;
        host.message(kTextUsingGivenFormat);
        return RawToWave(RawToWaveOptionsOf(s), host);
    }
}

const OperationRecord kRescueRecord{
    .summary =
        "Copy the samples of each FILE whose header is gone or damaged behind a new header into "
        "FILE(rescue).wav (FILE(realign).wav with --realign); FILE itself is only read. Whatever its first "
        "bytes, FILE is rescued",
    .filesHelp = "Recordings to rescue",
    .options = kRescueOptions,
    .input = Input::AnyFile,
    .rule = rules::TakesAnyFile,
    // recover with any of these options is the rescue.
    .alsoUnder = "recover",
    .chosen =
        [](const OptionValues& o) {
            for (const VerbOption& option : kRescueOptions)
                if (o.has(OptionKey(option))) return true;
            return false;
        },
    .plan =
        [](const Subject& s) {
            const RescueOptions o = RescueOptionsOf(s);
            CheckRescue(o);
            return Plan{{{RescueOutputPath(o)}}};
        },
    .run = [](Subject& s, Host& host) { return RescueRecording(RescueOptionsOf(s), host); },
};

const OperationRecord kDetectRawRecord{
    .summary = "",
    .filesHelp = "Raw PCM files",
    .options = kDetectOptions,
    .input = Input::AnyFile,
    .rule = rules::TakesAnyFile,
    .chosen = [](const OptionValues& o) { return o.flag("detect"); },
    .plan =
        [](const Subject& s) {
            CheckDetectedRaw(s.path, s.options.has("bits") || s.options.has("mono"));
            return Plan{{{DetectedRawOutputPath(s.path, s.options.text("output"))}}};
        },
    .run = [](Subject& s, Host& host) { return RunDetectedRaw(s, host, nullptr); },
};

}  // namespace velmora
