#include "ops/normalize.h"

#include <algorithm>

#include "ops/source_checks.h"
#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/wide_samples.h"
#include "ops/second_blocks.h"
#include "wav/header.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/file.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

std::string FloatPeakText(double peak) { return Format("%.6g", peak); }

float NormalizeGain(int peak) {
    if (peak == 0) throw VelmoraError(kTextDivByZero);
    // Both operands are exact in single precision, so the division rounds the
    // true quotient to the nearest single value.
    return 32767.0f / static_cast<float>(peak);
}

std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, PeakListView& view,
                                   Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    RequireUsableLayout(info);
    // 16-bit files keep their vectorised loops and single-precision gain;
    // wider integers and float go sample by sample.
    const std::optional<SampleFormat> format = TransformSampleFormat(info);
    const bool wideSamples = format && format->wide();
    if (!wideSamples) RequireSixteenBitFrames(info);
    const std::size_t sampleBytes = wideSamples ? static_cast<std::size_t>(format->bytes) : 2;

    view.showList();
    view.clearRows();

    File source = File::OpenRead(options.source);
    RequireUnchanged(source, info);
    SourceReader reader(source);
    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t frameBytes = sampleBytes * static_cast<std::size_t>(info.format.channels);
    const std::size_t secondBytes = static_cast<std::size_t>(info.format.samplesPerSec) * frameBytes;
    const std::size_t remainderBytes = remainder * frameBytes;
    const std::uint64_t dataStart = info.dataStart();
    const std::uint64_t pieceFrames = PieceFrames(frameBytes);
    std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(seconds > 0 ? secondBytes : remainderBytes,
                                                             pieceFrames * frameBytes));

    // Stage 1: the peaks. A block's loudest value is first reached within
    // that block's second, so one comparison per block keeps the earliest.
    // Peaks are held as doubles: exact for every integer width, and the
    // float files' own values.
    double overallPeak = 0;
    double minutePeak = 0;
    int peakSecond = 0;
    const bool floatPeaks = wideSamples && format->isFloat();
    const auto addRow = [&](int minute) {
        if (floatPeaks)
            view.addFloatRow(minute, peakSecond, minutePeak);
        else
            view.addRow(minute, peakSecond, static_cast<int>(minutePeak));
    };
    auto takeBlock = [&](std::size_t bytes, std::int64_t s) {
        const double peak = wideSamples ? wide::Peak(buffer.data(), bytes / sampleBytes, *format)
                                 : kernels::Peak16(buffer.data(), bytes / 2);
        if (peak > minutePeak) {
            minutePeak = peak;
            peakSecond = static_cast<int>((s - 1) % 60);
        }
        overallPeak = std::max(overallPeak, peak);
    };
    SecondBlockWalk scan = PlayTimeWalk(info, dataStart, secondBytes);
    scan.pump = BlockPump::Before;
    scan.pieceFrames = pieceFrames;
    WalkSecondBlocks(host, scan, [&](const SecondBlock& b) {
        const std::size_t bytes = static_cast<std::size_t>(b.frames) * frameBytes;
        const auto s = static_cast<std::int64_t>(b.index) + 1;
        reader.read(b.offset, buffer.data(), bytes);
        takeBlock(bytes, s);
        // Each full minute's row is shown as soon as its last second is in.
        if (!b.remainder && b.lastPiece && s % 60 == 0) {
            addRow(static_cast<int>(s / 60 - 1));
            host.pumpMessages();
            minutePeak = 0;
            peakSecond = 0;
        }
    });
    if (seconds % 60 > 0 || remainder > 0) {
        addRow(static_cast<int>(seconds / 60));
        host.pumpMessages();
    }
    if (floatPeaks)
        view.setLabel("ピーク値:" + FloatPeakText(overallPeak) + " ");
    else
        view.setLabel(Format("ピーク値:%d ", static_cast<int>(overallPeak)));
    if (overallPeak == 0) throw VelmoraError(kTextDivByZero);
    const float gain = wideSamples ? 0.0f : NormalizeGain(static_cast<int>(overallPeak));
    const auto scale = [&](std::uint8_t* samples, std::size_t bytes) {
        if (wideSamples)
            wide::Scale(samples, bytes / sampleBytes, *format, overallPeak);
        else
            kernels::Scale16(samples, bytes / 2, gain);
    };

    // Stage 2: the question. The file may change while it waits: the gain
    // found above is only applied to the file it was found in.
    if (!host.ask(kNormalizeQuestion)) return {};
    RequireUnchanged(source, info);
    RequireAnalysed(options.source, info);

    // Stage 3: the copied header, then the scaled samples.
    const std::string path =
        OutputPath(options.outputFolder, options.source, "(normalize).wav");
    OutputFile output = OutputFile::Create(path, {&source});
    // The source's header; its sizes count what this file holds: the
    // samples and the pad byte of odd data, none of the source's tail.
    HeaderDescription description = DescriptionOf(info, info.dataSize);
    description.copied.resize(static_cast<std::size_t>(dataStart));
    reader.read(0, description.copied.data(), description.copied.size());
    const std::vector<std::uint8_t> header = EncodeHeader(description);
    output.write(header.data(), header.size());
    SecondBlockWalk write = PlayTimeWalk(info, dataStart, secondBytes);
    write.pump = BlockPump::Before;
    write.progress = BlockProgress::After;
    write.pieceFrames = pieceFrames;
    WalkSecondBlocks(host, write, [&](const SecondBlock& b) {
        const std::size_t bytes = static_cast<std::size_t>(b.frames) * frameBytes;
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
    const std::size_t partial = info.dataSize % frameBytes;
    if (partial > 0) {
        std::vector<std::uint8_t> tail(partial);
        reader.read(dataStart + static_cast<std::uint64_t>(seconds) * secondBytes + remainderBytes, tail.data(),
                    partial);
        output.write(tail.data(), partial);
    }
    WritePad(output, info.dataSize);
    RequireUnchanged(source, info);
    output.commit();
    source.close();
    view.hide();
    return {path};
}

}  // namespace velmora
