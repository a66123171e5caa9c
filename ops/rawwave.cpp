#include "ops/rawwave.h"

#include <algorithm>

#include "ops/output_paths.h"
#include "io/file.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/header.h"
#include "wav/text.h"

namespace velmora {

namespace {

constexpr std::size_t kRawBlock = 0x100000;  // 1 MiB

}  // namespace

std::vector<std::string> RawToWave(const RawToWaveOptions& options, Host& host) {
    if (options.rawPath.empty()) return {};

    const std::int32_t rate = options.rate;
    const std::int16_t channels = options.channels == RawChannels::Stereo ? 2 : 1;
    const std::int16_t bytesPerSample = options.bits == RawBits::Sixteen ? 2 : 1;
    const auto blockAlign = static_cast<std::int16_t>(channels * bytesPerSample);

    File raw = File::OpenRead(options.rawPath);
    const std::uint64_t rawSize = raw.size();
    // A card image past 4 GiB becomes RF64.
    HeaderDescription description;
    description.dataSize = rawSize;
    description.format = {MakeFourCC("fmt "),
                          16,
                          kFormatPcm,
                          channels,
                          rate,
                          ByteRate(rate, blockAlign),
                          blockAlign,
                          static_cast<std::int16_t>(bytesPerSample * 8)};

    const std::string path = RawToWaveOutputPath(options.rawPath, options.outputFolder);
    OutputFile out = OutputFile::Create(path, {&raw});
    const std::vector<std::uint8_t> header = EncodeHeader(description);
    out.write(header.data(), header.size());

    BlockMover mover(static_cast<std::size_t>(std::min<std::uint64_t>(rawSize, kRawBlock)));
    std::uint64_t pos = 0;
    while (pos < rawSize) {
        // Never more than the measured length, so the data matches the header
        // even when the raw file grows meanwhile.
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(rawSize - pos, kRawBlock));
        std::size_t got = mover.read(raw, want);
        if (got == 0) {
            // The raw file shrank while being copied: no output.
            throw VelmoraError(TextCannotRead(options.rawPath));
        }
        pos += got;
        host.progress(static_cast<int>(pos * 100 / rawSize));
        mover.write(out, got);
    }

    WritePad(out, rawSize);
    raw.close();
    out.commit();
    // An empty raw file is complete at once: its WAV is the header alone.
    if (rawSize == 0) host.progress(100);
    return {path};
}

std::string RawToWaveOutputPath(const std::string& rawPath, const std::string& outputFolder) {
    return OutputPathKeepingExtension(outputFolder, rawPath, "(wavemaker).wav");
}

}  // namespace velmora
