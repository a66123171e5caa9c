#include "split.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ops/guard.h"
#include "ops/sample_kernels.h"
#include "ops/second_blocks.h"
#include "wav/rf64.h"
#include "wav/error.h"
#include "wav/file.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

std::vector<std::string> SplitSpeakerNames(std::uint32_t extChannelMask, int channels) {
    const std::uint32_t mask = extChannelMask != 0 ? extChannelMask : DefaultChannelMask(channels);
    std::vector<std::string> names = SpeakerNamesOfMask(mask);
    if (channels < 1 || names.size() < static_cast<std::size_t>(channels)) throw VelmoraError(kTextUnknownLayout);
    names.resize(static_cast<std::size_t>(channels));
    return names;
}

std::vector<std::string> ChannelSplit(const WaveInfo& info, const SplitOptions& options, Host& host) {
    if (options.fileField.empty()) return {};
    RequireAnalysed(options.fileField, info);
    RequireUsableLayout(info);
    const int channels = info.channels;
    // Named before anything is opened, so an unnamed layout writes nothing.
    const std::vector<std::string> names = SplitSpeakerNames(info.extChannelMask, channels);

    const int monoBlockAlign = info.blockAlign / channels;
    if (monoBlockAlign < 1) throw VelmoraError(kTextBadLayout);
    // The size of what is written: the whole frames the play time counts, one
    // sample each. For whole frames of channels × monoBlockAlign bytes this is
    // dataSize / channels; a trailing partial frame or a blockAlign that is no
    // multiple of the channel count no longer makes the header promise bytes
    // that never follow it.
    const std::uint64_t frames = PlayFrames(info);
    const std::optional<SampleFormat> format = TransformSampleFormat(info);
    const std::uint64_t monoData = frames * static_cast<std::uint64_t>(monoBlockAlign);
    const auto monoDataSize = static_cast<std::uint32_t>(monoData);

    RiffHeader riff = info.riffHeader();
    riff.riffSize = monoDataSize + 36;
    FormatBlock fmt = info.formatBlock();
    fmt.formatTag = kFormatPcm;
    fmt.channels = 1;
    fmt.avgBytesPerSec = info.avgBytesPerSec / channels;
    fmt.blockAlign = static_cast<std::int16_t>(monoBlockAlign);
    DataHeader data = info.dataHeader();
    data.dataSize = monoDataSize;
    // Wider samples keep their kind: a float source gives float mono files.
    const std::vector<std::uint8_t> header = SizedHeader(format && format->wide()
                                                             ? BuildPlainHeaderFor(*format, riff, fmt, data)
                                                             : BuildPlainHeader(riff, fmt, data),
                                                         monoData);

    File source = File::OpenRead(options.fileField);

    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t rate = static_cast<std::size_t>(info.samplesPerSec);
    const std::size_t stride = static_cast<std::size_t>(info.blockAlign);
    const std::size_t width = static_cast<std::size_t>(monoBlockAlign);
    // A file shorter than a second never needs a whole second of buffer.
    const std::size_t blockFrames = seconds > 0 ? rate : remainder;
    // At least one frame, so the channel's start lies inside the buffer even
    // when there is nothing to copy.
    std::vector<std::uint8_t> in(std::max<std::size_t>(blockFrames, 1) * stride);
    std::vector<std::uint8_t> out(blockFrames * width);
    const std::uint64_t dataStart = static_cast<std::uint64_t>(info.dataChunkPos) + 8;
    const std::uint64_t secondBytes = std::uint64_t{rate} * stride;

    const std::string prefix = OutputPathBase(options.outputFolder, options.fileField);
    std::vector<std::string> written;
    for (int c = 0; c < channels; ++c) {
        const std::string path = prefix + "(" + names[static_cast<std::size_t>(c)] + ")(" + std::to_string(c) + ").wav";
        host.log("書込中: " + path);
        File output = File::Create(path);
        output.write(header.data(), header.size());
        // Reads start at the frame; the wanted sample sits c samples in.
        const std::uint8_t* channelStart = in.data() + static_cast<std::size_t>(c) * width;
        for (std::int64_t k = 0; k < seconds; ++k) {
            host.progress(Percent(k, seconds));
            host.pumpMessages();
            ReadBlock(source, dataStart + static_cast<std::uint64_t>(k) * secondBytes, in.data(), rate * stride);
            kernels::ExtractChannel(channelStart, stride, width, out.data(), rate);
            output.write(out.data(), rate * width);
        }
        if (remainder > 0) {
            ReadBlock(source, dataStart + static_cast<std::uint64_t>(seconds) * secondBytes, in.data(),
                      remainder * stride);
            kernels::ExtractChannel(channelStart, stride, width, out.data(), remainder);
            host.progress(100);
            output.write(out.data(), remainder * width);
        }
        output.close();
        written.push_back(path);
    }
    source.close();
    host.log("終わり");
    return written;
}

}  // namespace velmora
