#include "ops/split.h"
#include "ops/records.h"
#include "ops/rules.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ops/source_checks.h"
#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/second_blocks.h"
#include "io/file.h"
#include "wav/header.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The mono files' header. Samples keep their kind: a float source gives
// float mono files. Odd data (8 or 24 bits, an odd frame count) is followed
// by its pad byte.
std::vector<std::uint8_t> MonoHeader(const WaveInfo& info, const std::optional<SampleFormat>& format,
                                     int monoBlockAlign, std::uint64_t monoData) {
    HeaderDescription description = DescriptionOf(info, monoData);
    FormatBlock& fmt = description.format;
    fmt.channels = 1;
    fmt.avgBytesPerSec = info.format.avgBytesPerSec / info.format.channels;
    fmt.blockAlign = static_cast<std::int16_t>(monoBlockAlign);
    UsePlainForm(description, format.value_or(SampleFormat{}));
    return EncodeHeader(description);
}

// One block of frames in, and one block of every channel's samples out.
struct SplitBlocks {
    std::uint64_t pieceFrames = 0;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t*> outs;  // each channel's share of `out`
};

SplitBlocks AllocateBlocks(const WaveInfo& info, std::size_t width) {
    const int channels = info.format.channels;
    const std::int64_t seconds = info.totalSeconds();
    const std::size_t remainder = static_cast<std::size_t>(info.playRemainderFrames);
    const std::size_t rate = static_cast<std::size_t>(info.format.samplesPerSec);
    const std::size_t stride = static_cast<std::size_t>(info.format.blockAlign);
    SplitBlocks blocks;
    // A file shorter than a second never needs a whole second of buffer, and
    // no block more than a piece.
    blocks.pieceFrames = PieceFrames(stride);
    const std::size_t blockFrames =
        static_cast<std::size_t>(std::min<std::uint64_t>(seconds > 0 ? rate : remainder, blocks.pieceFrames));
    // At least one frame, so the channel's start lies inside the buffer even
    // when there is nothing to copy.
    blocks.in.resize(std::max<std::size_t>(blockFrames, 1) * stride);
    blocks.out.resize(static_cast<std::size_t>(channels) * blockFrames * width);
    for (int c = 0; c < channels; ++c)
        blocks.outs.push_back(blocks.out.data() + static_cast<std::size_t>(c) * blockFrames * width);
    return blocks;
}

std::string SplitOutputPath(const SplitOptions& options, const std::vector<std::string>& names, std::size_t c) {
    return OutputPath(options.outputFolder, options.source, "(" + names[c] + ")(" + std::to_string(c) + ").wav");
}

// Every output exists before the first sample moves, so an output that
// cannot be created stops the job with nothing written: the ones made
// before it were never named and vanish with it.
std::vector<OutputFile> CreateOutputs(const SplitOptions& options, const std::vector<std::string>& names, File& source,
                                      std::size_t gather, std::vector<std::string>& written, Host& host) {
    std::vector<OutputFile> outputs;
    outputs.reserve(names.size());
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::string path = SplitOutputPath(options, names, c);
        host.log("書込中: " + path);
        outputs.push_back(OutputFile::Create(path, {&source}));
        outputs.back().setGather(gather);
        written.push_back(path);
    }
    return outputs;
}

// One pass: each block of frames is read once and every channel's
// samples leave it for their own file.
void WriteChannels(const WaveInfo& info, std::size_t width, SplitBlocks& blocks, SourceReader& reader,
                   std::vector<OutputFile>& outputs, std::size_t gather, Host& host) {
    const std::size_t stride = static_cast<std::size_t>(info.format.blockAlign);
    const std::size_t rate = static_cast<std::size_t>(info.format.samplesPerSec);
    const std::uint64_t secondBytes = std::uint64_t{rate} * stride;
    std::vector<std::uint8_t>& in = blocks.in;
    std::vector<std::uint8_t*>& outs = blocks.outs;
    const bool packed = stride == static_cast<std::size_t>(info.format.channels) * width;
    std::vector<std::uint8_t*> direct(outs.size());
    const auto spread = [&](std::size_t frameCount) {
        // The vector kernel's setup outweighs a few frames (a tiny rate's
        // seconds); those are copied channel by channel, to the same bytes.
        const bool whole = packed && frameCount >= 64;
        if (whole) {
            // Straight into what each output gathers, when it takes the
            // block (all outputs gather alike: all do, or none).
            if (frameCount * width <= gather) {
                for (std::size_t c = 0; c < outputs.size(); ++c)
                    direct[c] = outputs[c].writeInPlace(frameCount * width);
                kernels::Deinterleave(in.data(), direct.size(), width, direct.data(), frameCount);
                return;
            }
            kernels::Deinterleave(in.data(), outs.size(), width, outs.data(), frameCount);
        }
        for (std::size_t c = 0; c < outs.size(); ++c) {
            // A frame with bytes past its samples: each channel on its own.
            if (!whole) kernels::ExtractChannel(in.data() + c * width, stride, width, outs[c], frameCount);
            outputs[c].write(outs[c], frameCount * width);
        }
    };
    SecondBlockWalk walk = PlayTimeWalk(info, info.dataStart(), secondBytes);
    walk.progress = BlockProgress::Before;
    walk.pump = BlockPump::Before;
    walk.fullProgressOnRemainder = true;
    walk.pieceFrames = blocks.pieceFrames;
    WalkSecondBlocks(
        host, walk,
        [&](const SecondBlock& b) { reader.read(b.offset, in.data(), static_cast<std::size_t>(b.frames) * stride); },
        [&](const SecondBlock& b) { spread(static_cast<std::size_t>(b.frames)); });
}

}  // namespace

std::vector<std::string> SplitSpeakerNames(std::uint32_t extChannelMask, int channels) {
    const std::uint32_t mask = extChannelMask != 0 ? extChannelMask : DefaultChannelMask(channels);
    std::vector<std::string> names = SpeakerNamesOfMask(mask);
    if (channels < 1 || names.size() < static_cast<std::size_t>(channels)) throw VelmoraError(kTextUnknownLayout);
    names.resize(static_cast<std::size_t>(channels));
    return names;
}

std::vector<std::string> ChannelSplit(const WaveInfo& info, const SplitOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    RequireUsableLayout(info);
    const int channels = info.format.channels;
    // Named before anything is opened, so an unnamed layout writes nothing.
    const std::vector<std::string> names = SplitSpeakerNames(info.extChannelMask, channels);

    const int monoBlockAlign = info.format.blockAlign / channels;
    if (monoBlockAlign < 1) throw VelmoraError(kTextBadLayout);
    // The size of what is written: the whole frames the play time counts, one
    // sample each. For whole frames of channels × monoBlockAlign bytes this is
    // dataSize / channels; a trailing partial frame or a blockAlign that is no
    // multiple of the channel count no longer makes the header promise bytes
    // that never follow it.
    const std::uint64_t frames = PlayFrames(info);
    const std::optional<SampleFormat> format = TransformSampleFormat(info);
    const std::uint64_t monoData = frames * static_cast<std::uint64_t>(monoBlockAlign);
    const std::vector<std::uint8_t> header = MonoHeader(info, format, monoBlockAlign, monoData);

    File source = File::OpenRead(options.source);
    RequireUnchanged(source, info);
    SourceReader reader(source);
    const std::size_t width = static_cast<std::size_t>(monoBlockAlign);
    SplitBlocks blocks = AllocateBlocks(info, width);

    std::vector<std::string> written;
    const std::size_t gather = GatherPerOutput(static_cast<std::size_t>(channels));
    std::vector<OutputFile> outputs = CreateOutputs(options, names, source, gather, written, host);
    for (OutputFile& output : outputs) output.write(header.data(), header.size());
    WriteChannels(info, width, blocks, reader, outputs, gather, host);
    for (OutputFile& output : outputs) WritePad(output, monoData);
    // All or none, and only from the file that was analysed.
    RequireUnchanged(source, info);
    std::vector<OutputFile*> set;
    for (OutputFile& output : outputs) set.push_back(&output);
    OutputFile::CommitAll(set);
    source.close();
    host.log("終わり");
    return written;
}


std::vector<std::string> SplitOutputPaths(const WaveInfo& info, const SplitOptions& options) {
    const std::vector<std::string> names = SplitSpeakerNames(info.extChannelMask, info.format.channels);
    std::vector<std::string> paths;
    for (std::size_t c = 0; c < names.size() && c < static_cast<std::size_t>(info.format.channels); ++c)
        paths.push_back(SplitOutputPath(options, names, c));
    return paths;
}

namespace {

constexpr VerbOption kSplitOptions[] = {kOutputFolderOption};

SplitOptions SplitOptionsOf(const Subject& s) { return {s.path, s.options.text("output")}; }

}  // namespace

const OperationRecord kSplitRecord{
    .summary =
        "Write every channel of each FILE into a mono file named after its speaker, FILE(Speaker)(N).wav. "
        "Takes 8/16/24/32-bit integer and 32/64-bit float samples; more than two channels need a layout "
        "(an extensible channel mask, or 3 to 8 channels)",
    .filesHelp = "WAV files to split",
    .options = kSplitOptions,
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            using namespace rules;
            return First(w, r,
                         {ShortFormat, Compressed, Mono, NarrowOnly, NotWalkable, BadFrames, UnknownLayout, FrameLayout,
                          Footer, FileSizeWrong, TailNotChunks});
        },
    .plan =
        [](const Subject& s) {
            Plan plan;
            for (const std::string& path : SplitOutputPaths(s.info, SplitOptionsOf(s))) plan.files.emplace_back(path);
            return plan;
        },
    .run = [](Subject& s, Host& host) { return ChannelSplit(s.info, SplitOptionsOf(s), host); },
};

}  // namespace velmora
