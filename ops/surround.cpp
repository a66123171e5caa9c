#include "ops/surround.h"

#include <algorithm>
#include <cstring>

#include "ops/guard.h"
#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/wide_samples.h"
#include "ops/second_blocks.h"
#include "wav/rf64.h"
#include "wav/error.h"
#include "wav/file.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

void RequireDelayInRange(std::int32_t delayMs) {
    if (delayMs > 1000 || delayMs < 0) throw VelmoraError(kTextDelayRange);
}

std::int32_t DelayFrames(std::int32_t samplesPerSec, std::int32_t delayMs) {
    const float perMs = static_cast<float>(static_cast<double>(samplesPerSec) / 1000.0);
    const auto frames = static_cast<std::int64_t>(static_cast<double>(perMs) * delayMs);
    // Single precision may round the quotient up for rates past 2^24; the
    // delay still stays within one block.
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(frames, 0, std::max(samplesPerSec, 0)));
}

std::string SurroundOutputPath(const SurroundOptions& options) {
    std::string suffix;
    if (options.header == SurroundHeader::Extensible) suffix += "(EX)";
    if (options.swapRear) suffix += "(SS)";
    return OutputPath(options.outputFolder, options.source, suffix + Format(" delay(%dms) 4ch", options.delayMs) + ".wav");
}

std::vector<std::string> PseudoSurround(const WaveInfo& info, const SurroundOptions& options, Host& host) {
    RequireDelayInRange(options.delayMs);
    const std::int32_t delayMs = options.delayMs;
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    RequireUsableLayout(info);
    // 16-bit stereo goes through the vectorised loop; wider and float stereo
    // frames are copied sample by sample, which keeps them bit for bit.
    const std::optional<SampleFormat> format = TransformSampleFormat(info);
    const bool wideSamples = format && format->wide() && info.format.channels == 2;
    if (!wideSamples) RequireSixteenBitFrames(info);
    const std::size_t sampleBytes = wideSamples ? static_cast<std::size_t>(format->bytes) : 2;
    const std::size_t inFrame = 2 * sampleBytes;  // left, then right

    const bool extensible = options.header == SurroundHeader::Extensible;
    const bool withCue = extensible && options.cue;
    const std::uint32_t factor = extensible ? 2 : 3;
    const std::uint64_t outData = std::uint64_t{info.dataSize} * factor;

    // Sizes and rates wrap in 32 bits, blockAlign in 16, as the fields hold them.
    RiffHeader riff = info.riffHeader();
    riff.riffSize = static_cast<std::uint32_t>(outData) +
                    RiffSizeOfHeader(extensible ? (withCue ? kExtensibleCueHeaderSize : kExtensibleHeaderSize)
                                                : kPlainHeaderSize);
    FormatBlock fmt = info.format;
    fmt.channels = extensible ? 4 : 6;
    fmt.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(info.format.avgBytesPerSec) * factor);
    fmt.blockAlign = static_cast<std::int16_t>(static_cast<std::uint16_t>(info.format.blockAlign) * factor);
    DataHeader data = info.dataHeader();
    data.dataSize = static_cast<std::uint32_t>(outData);
    std::vector<std::uint8_t> header;
    if (wideSamples && extensible) {
        header = BuildExtensibleHeaderFor(*format, riff, fmt, static_cast<std::uint16_t>(info.format.bitsPerSample), 0x33,
                                          data, withCue);
    } else if (wideSamples) {
        header = BuildPlainHeaderFor(*format, riff, fmt, data);
    } else if (extensible) {
        header = BuildExtensibleHeader(riff, fmt, 16, 0x33, data, withCue);
    } else {
        fmt.formatTag = kFormatPcm;
        header = BuildPlainHeader(riff, fmt, data);
    }
    header = SizedHeader(std::move(header), outData);

    File source = File::OpenRead(options.source);
    const std::size_t rate = static_cast<std::size_t>(info.format.samplesPerSec);
    const std::size_t delay = static_cast<std::size_t>(DelayFrames(info.format.samplesPerSec, delayMs));
    const std::string path = SurroundOutputPath(options);
    OutputFile output = OutputFile::Create(path);
    output.write(header.data(), header.size());

    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t blockFrames = seconds > 0 ? rate : remainder;
    const std::size_t outFrame = (extensible ? 4 : 6) * sampleBytes;
    // The rear pair runs `delay` frames behind the front, so an output second
    // takes its first rear pairs from the end of the source second before it.
    // Two input blocks alternate, and every output frame is built whole in
    // one output block. Before the first second the rear is silent: the
    // second input block starts zeroed.
    std::vector<std::uint8_t> in[2] = {std::vector<std::uint8_t>(blockFrames * inFrame),
                                       std::vector<std::uint8_t>(blockFrames * inFrame)};
    std::vector<std::uint8_t> block(blockFrames * outFrame);
    const auto rearLead = [&](std::int64_t t) -> const std::uint8_t* {
        if (t == 0) return in[1].data();
        return in[(t - 1) % 2].data() + (rate - delay) * inFrame;
    };
    const int outChannels = extensible ? 4 : 6;
    const auto spread = [&](const std::uint8_t* cur, const std::uint8_t* lead, std::size_t frames) {
        if (wideSamples)
            wide::SpreadSurround(cur, lead, frames, delay, block.data(), outChannels, options.swapRear, sampleBytes);
        else
            kernels::SpreadSurround(cur, lead, frames, delay, block.data(), outChannels, options.swapRear);
    };
    const std::uint64_t dataStart = static_cast<std::uint64_t>(info.dataChunkPos) + 8;
    const std::uint64_t secondBytes = std::uint64_t{rate} * inFrame;

    host.log("擬似サラウンド出力中");
    SecondBlockWalk walk = PlayTimeWalk(info, dataStart, secondBytes);
    walk.progress = BlockProgress::Before;
    // In the remainder, rear pairs that would land after the end of the
    // output are dropped.
    WalkSecondBlocks(host, walk, [&](const SecondBlock& b) {
        const auto t = static_cast<std::int64_t>(b.index);
        const auto frames = static_cast<std::size_t>(b.frames);
        std::uint8_t* cur = in[t % 2].data();
        ReadBlock(source, b.offset, cur, frames * inFrame);
        spread(cur, rearLead(t), frames);
        output.write(block.data(), frames * outFrame);
    });
    // A dataSize that ends in part of a frame: its share of the output data
    // size is written as silence, so the file is as long as its header says.
    const std::size_t partial = (info.dataSize % inFrame) * factor;
    if (partial > 0) {
        const std::vector<std::uint8_t> silence(partial, 0);
        output.write(silence.data(), partial);
    }
    source.close();
    output.commit();
    host.log("終わり");
    return {path};
}

}  // namespace velmora
