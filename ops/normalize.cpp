#include "normalize.h"

#include <algorithm>

#include "ops/guard.h"
#include "ops/sample_kernels.h"
#include "ops/second_blocks.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/file.h"
#include "wav/records.h"
#include "wav/text.h"

namespace velmora {

float NormalizeGain(int peak) {
    if (peak == 0) throw VelmoraError(kTextDivByZero);
    // Both operands are exact in single precision, so the division rounds the
    // true quotient to the nearest single value.
    return 32767.0f / static_cast<float>(peak);
}

std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, PeakListView& view,
                                   Host& host) {
    if (options.fileField.empty()) return {};
    RequireAnalysed(options.fileField, info);
    RequireUsableLayout(info);
    RequireSixteenBitFrames(info);

    view.showBesideMainWindow();
    view.clearRows();

    File source = File::OpenRead(options.fileField);
    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(info.channels);
    const std::size_t secondBytes = static_cast<std::size_t>(info.samplesPerSec) * frameBytes;
    const std::size_t remainderBytes = remainder * frameBytes;
    const std::uint64_t dataStart = static_cast<std::uint64_t>(info.dataChunkPos) + 8;
    std::vector<std::uint8_t> buffer(seconds > 0 ? secondBytes : remainderBytes);

    // Stage 1: the peaks. A block's loudest value is first reached within
    // that block's second, so one comparison per block keeps the earliest.
    int overallPeak = 0;
    int minutePeak = 0;
    int peakSecond = 0;
    auto takeBlock = [&](std::size_t bytes, std::int64_t s) {
        const int peak = kernels::Peak16(buffer.data(), bytes / 2);
        if (peak > minutePeak) {
            minutePeak = peak;
            peakSecond = static_cast<int>((s - 1) % 60);
        }
        overallPeak = std::max(overallPeak, peak);
    };
    for (std::int64_t s = 1; s <= seconds; ++s) {
        host.pumpMessages();
        ReadBlock(source, dataStart + static_cast<std::uint64_t>(s - 1) * secondBytes, buffer.data(), secondBytes);
        takeBlock(secondBytes, s);
        if (s % 60 == 0) {
            view.addRow(static_cast<int>(s / 60 - 1), peakSecond, minutePeak);
            host.pumpMessages();
            minutePeak = 0;
            peakSecond = 0;
        }
    }
    if (seconds % 60 > 0 || remainder > 0) {
        if (remainder > 0) {
            ReadBlock(source, dataStart + static_cast<std::uint64_t>(seconds) * secondBytes, buffer.data(),
                      remainderBytes);
            takeBlock(remainderBytes, seconds + 1);
        }
        view.addRow(static_cast<int>(seconds / 60), peakSecond, minutePeak);
        host.pumpMessages();
    }
    view.setLabel(Format("ピーク値:%d ", overallPeak));
    const float gain = NormalizeGain(overallPeak);

    // Stage 2: the question.
    if (!host.ask(kNormalizeQuestion)) return {};

    // Stage 3: the copied header, then the scaled samples.
    const std::string path =
        OutputPathBase(options.outputFolder, options.fileField) + "(normalize).wav";
    OutputFile output = OutputFile::Create(path);
    std::vector<std::uint8_t> sourceHeader(static_cast<std::size_t>(dataStart));
    ReadBlock(source, 0, sourceHeader.data(), sourceHeader.size());
    const std::vector<std::uint8_t> header = BuildCopiedHeader(std::move(sourceHeader), {});
    output.write(header.data(), header.size());
    for (std::int64_t s = 1; s <= seconds; ++s) {
        host.pumpMessages();
        ReadBlock(source, dataStart + static_cast<std::uint64_t>(s - 1) * secondBytes, buffer.data(), secondBytes);
        kernels::Scale16(buffer.data(), secondBytes / 2, gain);
        output.write(buffer.data(), secondBytes);
        host.progress(Percent(s, seconds));
    }
    if (remainder > 0) {
        ReadBlock(source, dataStart + static_cast<std::uint64_t>(seconds) * secondBytes, buffer.data(),
                  remainderBytes);
        kernels::Scale16(buffer.data(), remainderBytes / 2, gain);
        output.write(buffer.data(), remainderBytes);
    }
    // The copied header counts a dataSize that may end in part of a frame;
    // those bytes follow unchanged, so the file is as long as its header says.
    const std::size_t partial = info.dataSize % frameBytes;
    if (partial > 0) {
        std::vector<std::uint8_t> tail(partial);
        ReadBlock(source, dataStart + static_cast<std::uint64_t>(seconds) * secondBytes + remainderBytes,
                  tail.data(), partial);
        output.write(tail.data(), partial);
    }
    output.commit();
    source.close();
    view.hide();
    return {path};
}

}  // namespace velmora
