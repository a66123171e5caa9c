#include "ops/rawwave.h"
#include "ops/records.h"
#include "ops/rules.h"
#include "ops/option_text.h"

#include <algorithm>
#include <system_error>

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


namespace {

void CheckInteger(const std::string& text) { ParseInteger(text); }

constexpr VerbOption kRawOptions[] = {
    {"--rate", "Sampling frequency, an integer stored as given (default 48000)", OptionKind::Value, "N", CheckInteger},
    {"--bits", "Bits per sample: 16 (default) or 8", OptionKind::Value, nullptr, nullptr, nullptr, false, "16,8"},
    {"--mono", "One channel (default: stereo)", OptionKind::Flag},
    kOutputFolderOption,
};

}  // namespace

// Converted as the window converts its "その他" rate.
RawToWaveOptions RawToWaveOptionsOf(const Subject& s) {
    RawToWaveOptions o;
    o.rawPath = s.path;
    o.rate = s.options.has("rate") ? ParseInteger(s.options.text("rate")) : 48000;
    o.bits = s.options.text("bits", "16") == "8" ? RawBits::Eight : RawBits::Sixteen;
    o.channels = s.options.flag("mono") ? RawChannels::Mono : RawChannels::Stereo;
    o.outputFolder = s.options.text("output");
    return o;
}

const OperationRecord kRawToWaveRecord{
    .summary =
        "Wrap each headerless PCM FILE (little-endian 16-bit signed or 8-bit unsigned) into "
        "FILE(wavemaker).wav, byte for byte behind a plain 44-byte header (RF64 once the file passes 4 GiB)",
    .filesHelp = "Raw PCM files",
    .options = kRawOptions,
    .input = Input::AnyFile,
    .rule = rules::TakesAnyFile,
    .plan = [](const Subject& s) { return Plan{{{RawToWaveOutputPath(s.path, s.options.text("output"))}}}; },
    .run = [](Subject& s, Host& host) { return RawToWave(RawToWaveOptionsOf(s), host); },
    .playSeconds =
        [](const Subject& s) {
            // No analysis gives the play time: the raw length does.
            const RawToWaveOptions o = RawToWaveOptionsOf(s);
            const std::optional<FileIdentity> id = IdentityOf(s.path);
            const int frameBytes = (o.bits == RawBits::Sixteen ? 2 : 1) * (o.channels == RawChannels::Mono ? 1 : 2);
            return !id || o.rate <= 0 ? 0.0 : static_cast<double>(id->length) / frameBytes / o.rate;
        },
};

}  // namespace velmora
