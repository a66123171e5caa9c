#include "ops/levels.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "io/file.h"
#include "ops/rules.h"
#include "ops/second_blocks.h"
#include "ops/source_checks.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/records.h"

namespace velmora {

namespace {

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();

// The weight BS.1770 gives each speaker of a channel mask: the surrounds
// (side and back pairs) +1.5 dB, the LFE left out, the rest 1.
int ChannelTypeOf(std::uint32_t bit) {
    switch (bit) {
        case 0x1: return EBUR128_LEFT;
        case 0x2: return EBUR128_RIGHT;
        case 0x4: return EBUR128_CENTER;
        case 0x8: return EBUR128_UNUSED;
        case 0x10:
        case 0x200: return EBUR128_LEFT_SURROUND;
        case 0x20:
        case 0x400: return EBUR128_RIGHT_SURROUND;
        case 0x100: return EBUR128_Mp180;
        default: return EBUR128_CENTER;  // front pairs between, tops: weight 1
    }
}

// The speaker bit of each channel: the file's mask, else the usual layout;
// 0 for a channel neither names.
std::vector<std::uint32_t> SpeakerBits(const WaveInfo& info) {
    std::uint32_t mask = info.extChannelMask != 0 ? info.extChannelMask : DefaultChannelMask(info.format.channels);
    std::vector<std::uint32_t> bits(static_cast<std::size_t>(info.format.channels), 0);
    for (std::uint32_t& b : bits) {
        if (mask == 0) break;
        b = mask & (~mask + 1);
        mask &= mask - 1;
    }
    return bits;
}

std::string SpeakerName(std::uint32_t bit) {
    const auto index = static_cast<std::size_t>(std::countr_zero(bit));
    return bit != 0 && index < SpeakerNames.size() ? SpeakerNames[index] : "";
}

// One sample on the full scale of its format: integers over 2^(bits-1), so
// the most negative value is -1.0, as other meters read them.
double SampleAt(const std::uint8_t* p, const SampleFormat& f) {
    if (f.isFloat()) {
        double v = 0;
        if (f.bytes == 4) {
            float x = 0;
            std::memcpy(&x, p, 4);
            v = x;
        } else {
            std::memcpy(&v, p, 8);
        }
        return std::isfinite(v) ? v : 0.0;  // what is no number has no level
    }
    switch (f.bytes) {
        case 1: return (static_cast<int>(p[0]) - 128) / 128.0;
        case 2: return static_cast<std::int16_t>(p[0] | p[1] << 8) / 32768.0;
        case 3: {
            const auto u = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
            return static_cast<std::int32_t>(u << 8) / 2147483648.0;
        }
        default: {
            const auto u = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | std::uint32_t{p[3]} << 24;
            return static_cast<std::int32_t>(u) / 2147483648.0;
        }
    }
}

// The gated mean of loudness values taken every 100 ms (BS.1770's 400 ms
// blocks, or the 3 s short-term ones of the loudness range), kept as counts
// and energy sums in bins of 0.001 LU from the absolute gate up: memory
// bounded however long the file, and a gate or percentile off by no more
// than a bin.
class LoudnessHistogram {
public:
    static constexpr double kFloor = -70.0;  // the absolute gate
    static constexpr double kBin = 0.001;
    static constexpr std::size_t kBins = 100000;  // up to +30 LUFS

    void add(double loudness) {
        if (!(loudness >= kFloor)) return;
        const auto i = std::min(static_cast<std::size_t>((loudness - kFloor) / kBin), kBins - 1);
        if (count_.empty()) {
            count_.assign(kBins, 0);
            energy_.assign(kBins, 0);
        }
        ++count_[i];
        energy_[i] += Energy(loudness);
    }
    // The loudness of the blocks above the gate `below` LU under their
    // ungated mean; -inf for none.
    double gatedMean(double below) const {
        const std::size_t from = gateBin(below);
        double sum = 0;
        std::uint64_t n = 0;
        for (std::size_t i = from; i < count_.size(); ++i) {
            sum += energy_[i];
            n += count_[i];
        }
        return n > 0 ? Loudness(sum / static_cast<double>(n)) : kMinusInf;
    }
    // The spread between the 10th and 95th percentiles of the gated values.
    double range(double below) const {
        const std::size_t from = gateBin(below);
        std::uint64_t n = 0;
        for (std::size_t i = from; i < count_.size(); ++i) n += count_[i];
        if (n == 0) return 0;
        const auto at = [&](double share) {
            const auto index = static_cast<std::uint64_t>(std::llround(static_cast<double>(n - 1) * share));
            std::uint64_t seen = 0;
            for (std::size_t i = from; i < count_.size(); ++i) {
                seen += count_[i];
                if (seen > index) return kFloor + (static_cast<double>(i) + 0.5) * kBin;
            }
            return kFloor;
        };
        return at(0.95) - at(0.10);
    }

private:
    static double Energy(double loudness) { return std::pow(10.0, (loudness + 0.691) / 10); }
    static double Loudness(double energy) { return -0.691 + 10 * std::log10(energy); }
    std::size_t gateBin(double below) const {
        double sum = 0;
        std::uint64_t n = 0;
        for (std::size_t i = 0; i < count_.size(); ++i) {
            sum += energy_[i];
            n += count_[i];
        }
        if (n == 0) return count_.size();
        const double gate = Loudness(sum / static_cast<double>(n)) - below;
        if (gate <= kFloor) return 0;
        return std::min(static_cast<std::size_t>(std::ceil((gate - kFloor) / kBin)), count_.size());
    }
    std::vector<std::uint64_t> count_;
    std::vector<double> energy_;
};

// The oversampling of some channels on a thread of its own, a few blocks
// behind the reading at most: the walk waits only when it is that far ahead,
// not after every block, so a busy machine costs no more than its share.
class PeakWorker {
public:
    using Block = std::vector<std::vector<double>>;  // one buffer per channel it oversamples
    explicit PeakWorker(std::vector<ebur128_state*> peakers) : peakers_(std::move(peakers)) {}
    ~PeakWorker() { finish(); }
    PeakWorker(const PeakWorker&) = delete;
    PeakWorker& operator=(const PeakWorker&) = delete;

    // A block's buffers to fill: a spare one when there is one.
    Block take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return Block(peakers_.size());
        Block b = std::move(spare_.back());
        spare_.pop_back();
        return b;
    }
    void push(Block block) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        changed_.wait(lock, [this] { return queue_.size() < kAhead; });
        queue_.push_back(std::move(block));
        changed_.notify_all();
    }
    // Waits until every block pushed is oversampled.
    void finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    static constexpr std::size_t kAhead = 4;
    void run() {
        for (;;) {
            Block b;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !queue_.empty() || done_; });
                if (queue_.empty()) return;
                b = std::move(queue_.front());
                queue_.pop_front();
            }
            changed_.notify_all();
            for (std::size_t c = 0; c < peakers_.size(); ++c)
                ebur128_add_frames_double(peakers_[c], b[c].data(), b[c].size());
            std::lock_guard<std::mutex> lock(mutex_);
            spare_.push_back(std::move(b));
        }
    }
    std::vector<ebur128_state*> peakers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> queue_;
    std::vector<Block> spare_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

struct LevelMeter::State {
    ebur128_state* meter = nullptr;       // the weighted loudness of all channels
    std::vector<ebur128_state*> peakers;  // the true peak, one channel each, so channels oversample side by side
    SampleFormat format;
    std::size_t channels = 0;
    std::uint64_t checkEvery = 0;  // frames of the 100 ms steps the loudness is read at
    std::uint64_t untilCheck = 0;
    std::uint64_t frames = 0;
    std::vector<double> peak, squares;
    std::vector<double> buffer;
    std::vector<std::vector<double>> mono;  // the channels oversampled here
    std::unique_ptr<PeakWorker> worker;     // the others'
    std::vector<ChannelLevels> named;
    double momentaryMax = kMinusInf;
    double shortTermMax = kMinusInf;
    LoudnessHistogram blocks;      // the 400 ms blocks: the integrated loudness
    LoudnessHistogram shortTerms;  // the 3 s ones: the loudness range
    // The energies of the last 30 steps of 100 ms: a 400 ms block is the mean
    // of the last 4, a 3 s window of all 30 (the meter's own windows would
    // sum 3 s of samples at every step).
    std::array<double, 30> steps{};
    std::uint64_t stepCount = 0;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    // Also when the constructor throws halfway.
    ~State() {
        worker.reset();
        if (meter) ebur128_destroy(&meter);
        for (ebur128_state*& p : peakers)
            if (p) ebur128_destroy(&p);
    }
    void feed(const double* p, std::size_t n);
    void step();
};

LevelMeter::LevelMeter(const WaveInfo& info, const SampleFormat& format, bool truePeak)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.format = format;
    s.channels = static_cast<std::size_t>(info.format.channels);
    const auto rate = static_cast<unsigned long>(info.format.samplesPerSec);
    s.meter = ebur128_init(static_cast<unsigned>(s.channels), rate, EBUR128_MODE_M);
    if (s.meter == nullptr) throw VelmoraError(kTextBadLayout);
    const std::vector<std::uint32_t> bits = SpeakerBits(info);
    for (std::size_t c = 0; c < s.channels; ++c) {
        // A single channel counts once, as BS.1770 sums a mono programme.
        const int type = s.channels == 1 || bits[c] == 0 ? EBUR128_CENTER : ChannelTypeOf(bits[c]);
        ebur128_set_channel(s.meter, static_cast<unsigned>(c), type);
        s.named.push_back({SpeakerName(bits[c])});
        if (!truePeak) continue;
        s.peakers.push_back(ebur128_init(1, rate, EBUR128_MODE_TRUE_PEAK));
        if (s.peakers.back() == nullptr) throw VelmoraError(kTextBadLayout);
    }
    // The oversampling costs most: half the channels' go to a second thread,
    // beside the loudness and the other half here.
    const std::size_t half = s.peakers.size() / 2;
    if (half > 0)
        s.worker = std::make_unique<PeakWorker>(
            std::vector<ebur128_state*>(s.peakers.begin(), s.peakers.begin() + static_cast<long>(half)));
    s.mono.resize(s.peakers.size() - half);
    s.checkEvery = std::max<std::uint64_t>(rate / 10, 1);
    s.untilCheck = s.checkEvery;
    s.peak.assign(s.channels, 0);
    s.squares.assign(s.channels, 0);
}

LevelMeter::~LevelMeter() = default;

void LevelMeter::State::step() {
    double loudness = kMinusInf;
    ebur128_loudness_window(meter, 100, &loudness);
    steps[stepCount % steps.size()] = std::isfinite(loudness) ? std::pow(10.0, (loudness + 0.691) / 10) : 0.0;
    ++stepCount;
    double four = 0, all = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        all += steps[i];
        if ((stepCount - 1 - i) % steps.size() < 4) four += steps[i];
    }
    const auto loudnessOf = [](double energy) { return energy > 0 ? -0.691 + 10 * std::log10(energy) : kMinusInf; };
    // Windows that reach before the start hold silence there; they count
    // for the maxima (as other meters show them) but are no blocks.
    const double m = loudnessOf(four / 4), st = loudnessOf(all / static_cast<double>(steps.size()));
    momentaryMax = std::max(momentaryMax, m);
    shortTermMax = std::max(shortTermMax, st);
    if (stepCount >= 4) blocks.add(m);
    if (stepCount >= steps.size()) shortTerms.add(st);
}

void LevelMeter::State::feed(const double* p, std::size_t n) {
    while (n > 0) {
        const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(n, untilCheck));
        ebur128_add_frames_double(meter, p, now);
        p += now * channels;
        n -= now;
        untilCheck -= now;
        if (untilCheck > 0) continue;
        untilCheck = checkEvery;
        step();
    }
}

void LevelMeter::add(const std::uint8_t* frames, std::size_t count) {
    State& s = *state_;
    const auto bytes = static_cast<std::size_t>(s.format.bytes);
    s.buffer.resize(count * s.channels);
    PeakWorker::Block away = s.worker ? s.worker->take() : PeakWorker::Block{};
    const std::size_t half = away.size();
    for (auto& m : away) m.resize(count);
    for (auto& m : s.mono) m.resize(count);
    const std::uint8_t* p = frames;
    double* out = s.buffer.data();
    const bool oversampled = !s.peakers.empty();
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t c = 0; c < s.channels; ++c, p += bytes) {
            const double v = SampleAt(p, s.format);
            *out++ = v;
            if (oversampled) (c < half ? away[c] : s.mono[c - half])[i] = v;
            s.peak[c] = std::max(s.peak[c], std::abs(v));
            s.squares[c] += v * v;
        }
    s.frames += count;
    if (s.worker) s.worker->push(std::move(away));
    s.feed(s.buffer.data(), count);
    for (std::size_t c = half; c < s.peakers.size(); ++c)
        ebur128_add_frames_double(s.peakers[c], s.mono[c - half].data(), count);
}

Levels LevelMeter::result() const {
    State& s = *state_;
    if (s.worker) s.worker->finish();
    Levels out;
    for (std::size_t c = 0; c < s.channels; ++c) {
        ChannelLevels level = s.named[c];
        level.samplePeak = s.peak[c];
        double tp = 0;
        if (c < s.peakers.size() && ebur128_true_peak(s.peakers[c], 0, &tp) == EBUR128_SUCCESS)
            level.truePeak = std::max(tp, s.peak[c]);
        else
            level.truePeak = s.peak[c];
        level.rms = s.frames > 0 ? std::sqrt(s.squares[c] / static_cast<double>(s.frames)) : 0;
        out.channels.push_back(level);
    }
    out.integrated = s.blocks.gatedMean(10);
    out.range = s.shortTerms.range(20);
    out.momentaryMax = s.momentaryMax;
    out.shortTermMax = s.shortTermMax;
    return out;
}

double Decibels(double linear) { return linear > 0 ? 20 * std::log10(linear) : kMinusInf; }

Refusal LevelsRule(const WaveInfo& info, const AnalysisResult& result) {
    using namespace rules;
    return First(
        info, result,
        {ShortFormat, Compressed, NotWalkable, BadFrames, FrameLayout, NotSampleFormat, MoreThanEightChannels});
}

Levels MeasureLevels(const std::string& path, const WaveInfo& info, const AnalysisResult& result, Host& host) {
    const Refusal why = LevelsRule(info, result);
    if (why.code != Reason::None) throw VelmoraError(why.text);
    RequireAnalysed(path, info);
    RequireUsableLayout(info);
    const SampleFormat format = *TransformSampleFormat(info);
    File source = File::OpenRead(path);
    RequireUnchanged(source, info);
    SourceReader reader(source);
    const auto frameBytes = static_cast<std::size_t>(info.format.blockAlign);
    SecondBlockWalk walk =
        PlayTimeWalk(info, info.dataStart(), static_cast<std::uint64_t>(info.format.samplesPerSec) * frameBytes);
    walk.progress = BlockProgress::After;
    walk.pump = BlockPump::After;
    walk.pieceFrames = PieceFrames(frameBytes);
    LevelMeter meter(info, format);
    std::vector<std::uint8_t> buffer;
    WalkSecondBlocks(host, walk, [&](const SecondBlock& b) {
        const auto bytes = static_cast<std::size_t>(b.frames) * frameBytes;
        buffer.resize(bytes);
        reader.read(b.offset, buffer.data(), bytes);
        meter.add(buffer.data(), static_cast<std::size_t>(b.frames));
    });
    RequireUnchanged(source, info);
    return meter.result();
}

}  // namespace velmora
