#include "ops/surround.h"
#include "ops/records.h"
#include "ops/rules.h"
#include "ops/option_text.h"

#include <algorithm>
#include <cstring>

#include "ops/source_checks.h"
#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/wide_samples.h"
#include "ops/second_blocks.h"
#include "io/file.h"
#include "wav/header.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The four- or six-channel header: every size times `factor`, rates wrapping
// in 32 bits and blockAlign in 16, as the fields hold them.
std::vector<std::uint8_t> SurroundHeaderBytes(const WaveInfo& info, const SurroundOptions& options, bool wideSamples,
                                              const SampleFormat& samples, std::uint32_t factor,
                                              std::uint64_t outData) {
    const bool extensible = options.header == SurroundHeader::Extensible;
    const bool withCue = extensible && options.cue;
    HeaderDescription description = DescriptionOf(info, outData);
    FormatBlock& fmt = description.format;
    fmt.channels = extensible ? 4 : 6;
    fmt.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(info.format.avgBytesPerSec) * factor);
    fmt.blockAlign = static_cast<std::int16_t>(static_cast<std::uint16_t>(info.format.blockAlign) * factor);
    if (extensible) {
        const auto validBits = static_cast<std::uint16_t>(wideSamples ? info.format.bitsPerSample : 16);
        description.extension = ExtensionFor(samples, validBits, 0x33);
        description.cue = withCue;
    } else {
        UsePlainForm(description, samples);
    }
    return EncodeHeader(description);
}

// How the stereo frames become surround ones.
struct Spread {
    bool wideSamples = false;  // sample by sample, else the 16-bit loop
    std::size_t sampleBytes = 2;
    int outChannels = 4;
    bool swapRear = false;
    std::size_t delay = 0;  // frames the rear pair runs behind the front
};

// The samples, block by block, after the header.
void WriteSurround(const WaveInfo& info, const Spread& spread, SourceReader& reader, OutputFile& output, Host& host) {
    const std::size_t rate = static_cast<std::size_t>(info.format.samplesPerSec);
    const std::size_t delay = spread.delay;
    const std::size_t inFrame = 2 * spread.sampleBytes;  // left, then right
    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t outFrame = static_cast<std::size_t>(spread.outChannels) * spread.sampleBytes;
    const std::uint64_t pieceFrames = PieceFrames(outFrame);
    const std::size_t blockFrames =
        static_cast<std::size_t>(std::min<std::uint64_t>(seconds > 0 ? rate : remainder, pieceFrames));
    // The rear pair runs `delay` frames behind the front: output frame i
    // takes its rear pair from source frame i − delay, silence before the
    // first. A block takes the rear pairs that lie before it (at most its own
    // length of them) from the block before, or, when that does not hold
    // them (a second walked in pieces), from `lead`, read where they lie; the
    // rest come from its own frames.
    std::vector<std::uint8_t> in[2] = {std::vector<std::uint8_t>(blockFrames * inFrame),
                                       std::vector<std::uint8_t>(blockFrames * inFrame)};
    std::vector<std::uint8_t> lead(blockFrames * inFrame);
    std::vector<std::uint8_t> block(blockFrames * outFrame);
    const std::uint64_t dataStart = info.dataStart();
    const std::uint64_t secondBytes = std::uint64_t{rate} * inFrame;
    // The block before this one, whose frames usually hold the rear pairs.
    std::uint64_t prevAt = 0, prevFrames = 0;
    int turn = 0;

    host.log("擬似サラウンド出力中");
    SecondBlockWalk walk = PlayTimeWalk(info, dataStart, secondBytes);
    walk.progress = BlockProgress::Before;
    walk.pieceFrames = pieceFrames;
    // In the remainder, rear pairs that would land after the end of the
    // output are dropped.
    WalkSecondBlocks(host, walk, [&](const SecondBlock& b) {
        const auto frames = static_cast<std::size_t>(b.frames);
        std::uint8_t* cur = in[turn].data();
        const std::uint8_t* prev = in[1 - turn].data();
        reader.read(b.offset, cur, frames * inFrame);
        // This block's first frame in the whole play time.
        const std::uint64_t at = b.index * rate + b.first;
        const std::size_t early = std::min(delay, frames);
        // Source frames at − delay … at − delay + early; those before the
        // start are silence.
        const std::uint64_t silent = at < delay ? std::min<std::uint64_t>(delay - at, early) : 0;
        const std::uint64_t from = at + silent - delay;
        const std::uint8_t* rear = lead.data();
        if (silent == 0 && early > 0 && prevFrames > 0 && from >= prevAt && from + early <= prevAt + prevFrames) {
            rear = prev + (from - prevAt) * inFrame;
        } else {
            std::fill_n(lead.begin(), silent * inFrame, std::uint8_t{0});
            if (silent < early)
                reader.read(dataStart + from * inFrame, lead.data() + silent * inFrame, (early - silent) * inFrame);
        }
        // Built where the output gathers its bytes, when it takes the block.
        std::uint8_t* to = output.writeInPlace(frames * outFrame);
        std::uint8_t* frameOut = to ? to : block.data();
        if (spread.wideSamples)
            wide::SpreadSurround(cur, rear, frames, early, frameOut, spread.outChannels, spread.swapRear,
                                 spread.sampleBytes);
        else
            kernels::SpreadSurround(cur, rear, frames, early, frameOut, spread.outChannels, spread.swapRear);
        if (!to) output.write(block.data(), frames * outFrame);
        prevAt = at;
        prevFrames = frames;
        turn = 1 - turn;
    });
}

}  // namespace

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
    return OutputPath(options.outputFolder, options.source,
                      suffix + Format(" delay(%dms) 4ch", options.delayMs) + ".wav");
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

    const bool extensible = options.header == SurroundHeader::Extensible;
    const std::uint32_t factor = extensible ? 2 : 3;
    // Whole frames only: part of a frame at the end of the data has no
    // samples to spread, so the output counts and holds none of it.
    const int outChannels = extensible ? 4 : 6;
    const std::uint64_t frames = info.dataSize / static_cast<std::uint64_t>(info.format.blockAlign);
    const std::uint64_t outData = frames * static_cast<std::uint64_t>(outChannels) * sampleBytes;
    const std::vector<std::uint8_t> header =
        SurroundHeaderBytes(info, options, wideSamples, wideSamples ? *format : SampleFormat{}, factor, outData);

    File source = File::OpenRead(options.source);
    RequireUnchanged(source, info);
    SourceReader reader(source);
    const std::size_t delay = static_cast<std::size_t>(DelayFrames(info.format.samplesPerSec, delayMs));
    const std::string path = SurroundOutputPath(options);
    OutputFile output = OutputFile::Create(path, {&source});
    output.write(header.data(), header.size());
    WriteSurround(info, {wideSamples, sampleBytes, outChannels, options.swapRear, delay}, reader, output, host);
    WritePad(output, outData);
    RequireUnchanged(source, info);
    source.close();
    output.commit();
    host.log("終わり");
    return {path};
}


namespace {

void CheckDelay(const std::string& text) { ParseSurroundDelay(text); }

constexpr VerbOption kSurroundOptions[] = {
    {"--delay", "Rear delay in milliseconds, an integer 0-1000 (default 200)", OptionKind::Value, "MS", CheckDelay},
    {"--swap", "Exchange left and right in the rear pair; the name gets (SS)", OptionKind::Flag},
    {"--plain", "Six-channel plain header (rear pair on channels 5 and 6) instead of the four-channel extensible one",
     OptionKind::Flag},
    {"--cue", "Insert the empty cue chunk (extensible header only)", OptionKind::Flag, nullptr, nullptr, "plain"},
    kOutputFolderOption,
};

SurroundOptions SurroundOptionsOf(const Subject& s) {
    SurroundOptions o;
    o.source = s.path;
    o.outputFolder = s.options.text("output");
    o.delayMs = ParseSurroundDelay(s.options.text("delay", "200"));
    o.swapRear = s.options.flag("swap");
    o.header = s.options.flag("plain") ? SurroundHeader::Plain : SurroundHeader::Extensible;
    o.cue = s.options.flag("cue");
    return o;
}

}  // namespace

const OperationRecord kSurroundRecord{
    .summary =
        "Build a pseudo-surround file from each stereo FILE (16/24/32-bit integer or 32/64-bit float): the "
        "rear pair is the front pair delayed. Writes FILE(EX) delay(MSms) 4ch.wav",
    .filesHelp = "Stereo WAV files",
    .options = kSurroundOptions,
    .rule = rules::StereoTransform,
    .plan = [](const Subject& s) { return Plan{{{SurroundOutputPath(SurroundOptionsOf(s))}}}; },
    .run = [](Subject& s, Host& host) { return PseudoSurround(s.info, SurroundOptionsOf(s), host); },
};

}  // namespace velmora
