#include "ops/normalize.h"
#include "ops/records.h"
#include "ops/rules.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "ops/source_checks.h"
#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/levels.h"
#include "ops/option_text.h"
#include "ops/wide_samples.h"
#include "ops/second_blocks.h"
#include "io/file.h"
#include "wav/header.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The samples as both passes see them: 16-bit files keep their vectorised
// loops and single-precision gain; wider integers and float go sample by
// sample.
struct Samples {
    std::optional<SampleFormat> format;
    bool wide = false;
    std::size_t sampleBytes = 2;
    std::size_t frameBytes = 0;
    std::size_t secondBytes = 0;
    std::size_t remainderBytes = 0;
    std::uint64_t dataStart = 0;
    std::uint64_t pieceFrames = 0;
};

// Stage 1: the peaks, listed minute by minute, and the overall one on the
// label, which is returned. A block's loudest value is first reached within
// that block's second, so one comparison per block keeps the earliest.
// Peaks are held as doubles: exact for every integer width, and the float
// files' own values.
double ScanPeaks(const WaveInfo& info, const Samples& s, SourceReader& reader, std::vector<std::uint8_t>& buffer,
                 PeakListView& view, Host& host, LevelMeter* meter) {
    const std::int64_t seconds = info.totalSeconds();
    double overallPeak = 0;
    double minutePeak = 0;
    int peakSecond = 0;
    const bool floatPeaks = s.wide && s.format->isFloat();
    const auto addRow = [&](int minute) {
        if (floatPeaks)
            view.addFloatRow(minute, peakSecond, minutePeak);
        else
            view.addRow(minute, peakSecond, static_cast<int>(minutePeak));
    };
    auto takeBlock = [&](std::size_t bytes, std::int64_t second) {
        const double peak = s.wide ? wide::Peak(buffer.data(), bytes / s.sampleBytes, *s.format)
                                   : kernels::Peak16(buffer.data(), bytes / 2);
        if (peak > minutePeak) {
            minutePeak = peak;
            peakSecond = static_cast<int>((second - 1) % 60);
        }
        overallPeak = std::max(overallPeak, peak);
    };
    SecondBlockWalk scan = PlayTimeWalk(info, s.dataStart, s.secondBytes);
    scan.pump = BlockPump::Before;
    scan.pieceFrames = s.pieceFrames;
    WalkSecondBlocks(host, scan, [&](const SecondBlock& b) {
        const std::size_t bytes = static_cast<std::size_t>(b.frames) * s.frameBytes;
        const auto second = static_cast<std::int64_t>(b.index) + 1;
        reader.read(b.offset, buffer.data(), bytes);
        takeBlock(bytes, second);
        if (meter) meter->add(buffer.data(), static_cast<std::size_t>(b.frames));
        // Each full minute's row is shown as soon as its last second is in.
        if (!b.remainder && b.lastPiece && second % 60 == 0) {
            addRow(static_cast<int>(second / 60 - 1));
            host.pumpMessages();
            minutePeak = 0;
            peakSecond = 0;
        }
    });
    if (seconds % 60 > 0 || info.playRemainderFrames != 0) {
        addRow(static_cast<int>(seconds / 60));
        host.pumpMessages();
    }
    if (floatPeaks)
        view.setLabel("ピーク値:" + FloatPeakText(overallPeak) + " ");
    else
        view.setLabel(Format("ピーク値:%d ", static_cast<int>(overallPeak)));
    return overallPeak;
}

// Stage 3: the copied header, then the scaled samples and whatever part of
// a frame ends the data.
void WriteScaled(const WaveInfo& info, const Samples& s, SourceReader& reader, std::vector<std::uint8_t>& buffer,
                 double overallPeak, float gain, double targetGain, OutputFile& output, Host& host) {
    const auto scale = [&](std::uint8_t* samples, std::size_t bytes) {
        if (targetGain > 0)
            wide::ScaleBy(samples, bytes / s.sampleBytes, *s.format, targetGain);
        else if (s.wide)
            wide::Scale(samples, bytes / s.sampleBytes, *s.format, overallPeak);
        else
            kernels::Scale16(samples, bytes / 2, gain);
    };
    // The source's header; its sizes count what this file holds: the
    // samples and the pad byte of odd data, none of the source's tail.
    HeaderDescription description = DescriptionOf(info, info.dataSize);
    description.copied.resize(static_cast<std::size_t>(s.dataStart));
    description.trailing = info.formatAfterData;
    reader.read(0, description.copied.data(), description.copied.size());
    const std::vector<std::uint8_t> header = EncodeHeader(description);
    output.write(header.data(), header.size());
    SecondBlockWalk write = PlayTimeWalk(info, s.dataStart, s.secondBytes);
    write.pump = BlockPump::Before;
    write.progress = BlockProgress::After;
    write.pieceFrames = s.pieceFrames;
    WalkSecondBlocks(host, write, [&](const SecondBlock& b) {
        const std::size_t bytes = static_cast<std::size_t>(b.frames) * s.frameBytes;
        // Read and scaled where the output gathers its bytes, when it takes
        // the block: no copy on the way.
        if (std::uint8_t* to = output.writeInPlace(bytes)) {
            reader.read(b.offset, to, bytes);
            scale(to, bytes);
            return;
        }
        reader.read(b.offset, buffer.data(), bytes);
        scale(buffer.data(), bytes);
        output.write(buffer.data(), bytes);
    });
    // The copied header counts a dataSize that may end in part of a frame;
    // those bytes follow unchanged, so the file is as long as its header says.
    const std::size_t partial = info.dataSize % s.frameBytes;
    if (partial > 0) {
        std::vector<std::uint8_t> tail(partial);
        reader.read(s.dataStart + static_cast<std::uint64_t>(info.totalSeconds()) * s.secondBytes + s.remainderBytes,
                    tail.data(), partial);
        output.write(tail.data(), partial);
    }
    WritePad(output, info.dataSize);
    // A format chunk the source keeps behind its data goes with the header.
    if (info.formatAfterData > 0) {
        std::vector<std::uint8_t> format(info.formatAfterData);
        reader.read(static_cast<std::uint64_t>(info.fmtChunkPos), format.data(), format.size());
        output.write(format.data(), format.size());
    }
}

// The gain of a target other than full scale: the sample peak (on the scale
// where the most negative integer is -1.0) to its level, or the integrated
// loudness to its level within the true-peak limit.
double TargetGain(const NormalizeTarget& target, const Samples& s, double overallPeak, const LevelMeter* meter) {
    if (target.kind == NormalizeTarget::Kind::Peak) {
        const double scale = s.format->isFloat() ? 1.0 : std::ldexp(1.0, 8 * s.format->bytes - 1);
        return std::pow(10.0, target.level / 20) * scale / overallPeak;
    }
    const Levels levels = meter->result();
    if (!std::isfinite(levels.integrated)) throw VelmoraError(kTextSilentFile);
    const double gainDb = target.level - levels.integrated;
    double truePeak = -std::numeric_limits<double>::infinity();
    double samplePeak = truePeak;
    for (const ChannelLevels& c : levels.channels) {
        truePeak = std::max(truePeak, Decibels(c.truePeak));
        samplePeak = std::max(samplePeak, Decibels(c.samplePeak));
    }
    // No limiter: a gain that would pass the limit (or clip an integer) is refused.
    if (truePeak + gainDb > target.truePeakLimit + 1e-9 || (!s.format->isFloat() && samplePeak + gainDb > 0))
        throw VelmoraError(kTextTruePeakOverLimit);
    return std::pow(10.0, gainDb / 20);
}

}  // namespace

std::string FloatPeakText(double peak) { return Format("%.6g", peak); }

float NormalizeGain(int peak) {
    if (peak == 0) throw VelmoraError(kTextDivByZero);
    // Both operands are exact in single precision, so the division rounds the
    // true quotient to the nearest single value.
    return 32767.0f / static_cast<float>(peak);
}

std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, PeakListView& view,
                                   Host& host) {
    return Normalize(info, options, NormalizeTarget{}, view, host);
}

std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, const NormalizeTarget& target,
                                   PeakListView& view, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    RequireUsableLayout(info);
    Samples s;
    s.format = TransformSampleFormat(info);
    s.wide = s.format && s.format->wide();
    if (!s.wide) RequireSixteenBitFrames(info);
    s.sampleBytes = s.wide ? static_cast<std::size_t>(s.format->bytes) : 2;

    view.showList();
    view.clearRows();

    File source = File::OpenRead(options.source);
    RequireUnchanged(source, info);
    SourceReader reader(source);
    const std::int64_t seconds = info.totalSeconds();
    s.frameBytes = s.sampleBytes * static_cast<std::size_t>(info.format.channels);
    s.secondBytes = static_cast<std::size_t>(info.format.samplesPerSec) * s.frameBytes;
    s.remainderBytes = static_cast<std::size_t>(info.playRemainderFrames) * s.frameBytes;
    s.dataStart = info.dataStart();
    s.pieceFrames = PieceFrames(s.frameBytes);
    std::vector<std::uint8_t> buffer(
        std::min<std::uint64_t>(seconds > 0 ? s.secondBytes : s.remainderBytes, s.pieceFrames * s.frameBytes));

    const bool loudness = target.kind == NormalizeTarget::Kind::Loudness;
    std::optional<LevelMeter> meter;
    if (loudness) meter.emplace(info, *s.format);
    const double overallPeak = ScanPeaks(info, s, reader, buffer, view, host, meter ? &*meter : nullptr);
    if (overallPeak == 0) throw VelmoraError(kTextSilentFile);
    const float gain = s.wide ? 0.0f : NormalizeGain(static_cast<int>(overallPeak));
    const double targetGain = target.kind == NormalizeTarget::Kind::FullScale
                                  ? 0.0
                                  : TargetGain(target, s, overallPeak, meter ? &*meter : nullptr);

    // Stage 2: the question. The file may change while it waits: the gain
    // found above is only applied to the file it was found in.
    if (!host.ask(kNormalizeQuestion)) return {};
    RequireUnchanged(source, info);
    RequireAnalysed(options.source, info);

    const std::string path = NormalizeOutputPath(options);
    OutputFile output = OutputFile::Create(path, {&source});
    WriteScaled(info, s, reader, buffer, overallPeak, gain, targetGain, output, host);
    RequireUnchanged(source, info);
    output.commit();
    source.close();
    view.hide();
    return {path};
}


std::string NormalizeOutputPath(const NormalizeOptions& options) {
    return OutputPath(options.outputFolder, options.source, "(normalize).wav");
}

namespace {

// A front end that shows no peaks (the rows go nowhere).
class UnseenPeaks : public PeakListView {
public:
    void showList() override {}
    void clearRows() override {}
    void addRow(int, int, int) override {}
    void addFloatRow(int, int, double) override {}
    void setLabel(const std::string&) override {}
    void hide() override {}
};

void CheckLevel(const std::string& text) { ParseLevel(text); }

constexpr VerbOption kNormalizeOptions[] = {
    {"-y,--yes", "Write without asking", OptionKind::Flag},
    {"--no", "List the peaks only, write nothing", OptionKind::Flag, nullptr, nullptr, "yes"},
    {"--peak", "Scale so the sample peak reaches DBFS (-70 to 0, e.g. -1) instead of full scale", OptionKind::Value,
     "DBFS", CheckLevel, "lufs"},
    {"--lufs",
     "Scale so the integrated loudness (BS.1770, gated) reaches LUFS (-70 to 0, e.g. -23); refused when the true "
     "peak would then pass --true-peak-limit (no limiter)",
     OptionKind::Value, "LUFS", CheckLevel},
    {"--true-peak-limit", "With --lufs: the highest true peak allowed after the gain, in dBTP (default -1)",
     OptionKind::Value, "DBTP", CheckLevel},
    kOutputFolderOption,
};

NormalizeOptions NormalizeOptionsOf(const Subject& s) { return {s.path, s.options.text("output")}; }

}  // namespace

NormalizeTarget NormalizeTargetOf(const OptionValues& options) {
    NormalizeTarget target;
    if (options.has("peak")) {
        target.kind = NormalizeTarget::Kind::Peak;
        target.level = ParseLevel(options.text("peak"));
    } else if (options.has("lufs")) {
        target.kind = NormalizeTarget::Kind::Loudness;
        target.level = ParseLevel(options.text("lufs"));
        if (options.has("true-peak-limit")) target.truePeakLimit = ParseLevel(options.text("true-peak-limit"));
    }
    return target;
}

namespace {}  // namespace

const OperationRecord kNormalizeRecord{
    .summary =
        "List the peak of each minute of each stereo FILE (16/24/32-bit integer or 32/64-bit float) and the "
        "overall peak, then scale it so that peak reaches full scale into FILE(normalize).wav. Asks first on "
        "a terminal; without one, --yes or --no must say what to do",
    .filesHelp = "Stereo WAV files",
    .options = kNormalizeOptions,
    .rule = rules::StereoTransform,
    .plan = [](const Subject& s) { return Plan{{{NormalizeOutputPath(NormalizeOptionsOf(s))}}}; },
    .run =
        [](Subject& s, Host& host) {
            UnseenPeaks peaks;
            return Normalize(s.info, NormalizeOptionsOf(s), NormalizeTargetOf(s.options), peaks, host);
        },
};

}  // namespace velmora
