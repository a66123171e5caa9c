#include "ops/multiplex.h"
#include "ops/records.h"
#include "ops/rules.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ops/output_paths.h"
#include "ops/sample_kernels.h"
#include "ops/second_blocks.h"
#include "io/file.h"
#include "wav/header.h"
#include "wav/error.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

void CheckRowIndex(int index) {
    if (index < 0 || index >= kChannelRows) throw std::out_of_range("channel row out of range");
}

// Two names of one file (the same path, or links to it). A name that does not
// exist is no file, so it cannot be the other one.
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const std::optional<FileIdentity> ida = IdentityOf(a), idb = IdentityOf(b);
    return ida && idb && ida->sameFile(*idb);
}

// A registered file read by the writer is still the one its registration
// analysed.
void RequireRegisteredFile(const File& file, const ChannelEntry& e) {
    const FileIdentity now = file.identity();
    if (!now.sameFile(e.analysed) || now.length != e.analysed.length || now.modifiedNs != e.analysed.modifiedNs)
        throw VelmoraError(TextSourceChanged(file.path()));
}

std::int32_t AsInt32(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

const char* ChannelCaption(int row) {
    CheckRowIndex(row);
    return SpeakerNames[static_cast<std::size_t>(row)];
}

const ChannelRow& ChannelList::at(int index) const {
    CheckRowIndex(index);
    return rows_[static_cast<std::size_t>(index)];
}

void ChannelList::setChecked(int index, bool checked) {
    CheckRowIndex(index);
    rows_[static_cast<std::size_t>(index)].checked = checked;
}

void ChannelList::setRow(int index, ChannelRow row) {
    CheckRowIndex(index);
    rows_[static_cast<std::size_t>(index)] = std::move(row);
}

ChannelRegistration RegisterChannelFile(int row, const std::string& path, WaveInfo& info, ChannelList& list) {
    CheckRowIndex(row);
    ChannelRegistration reg;
    reg.analysis = AnalyzeWave(path, info);
    // A rejected analysis leaves WaveInfo partly describing the previous file;
    // its numbers must not end up in the row.
    if (!reg.analysis.complete()) return reg;
    if (info.format.channels != 1) {
        reg.refusal = kTextMonoOnly;
        return reg;
    }
    // Compressed blocks are no samples to interleave.
    if (IsCompressedFormat(info)) {
        reg.refusal = kTextCompressedRow;
        return reg;
    }
    // Samples are copied by the frame size: one that is not the sample's
    // width would shift or drop them.
    if (info.format.blockAlign != (info.format.bitsPerSample + 7) / 8) {
        reg.refusal = kTextMuxRowFrame;
        return reg;
    }
    ChannelRow r;
    r.checked = true;
    r.entry =
        ChannelEntry{path,
                     info.format.samplesPerSec,
                     info.format.bitsPerSample,
                     info.format.channels,
                     PlayFrames(info),
                     info.dataSize,
                     info.dataChunkPos,
                     ChannelFormat{info.riffHeader(), info.format, info.validBits, info.subFormatTag, info.data.dataId},
                     FileIdentity{info.fileDevice, info.fileInode, info.fileSize, info.fileModifiedNs}};
    list.setRow(row, std::move(r));
    reg.registered = true;
    return reg;
}

void ClearChannelList(ChannelList& list) {
    for (int i = 0; i < kChannelRows; ++i) list.setRow(i, ChannelRow{});
}

namespace {

std::optional<SampleFormat> SampleFormatOf(const ChannelFormat& f) {
    return TransformSampleFormat(f.format.formatTag, f.subFormatTag, f.format.channels, f.format.blockAlign,
                                 f.format.bitsPerSample);
}

bool IsFloat(const ChannelFormat& f) {
    auto sf = SampleFormatOf(f);
    return sf && sf->isFloat();
}

// What the rows say at the start of a run: everything that decides the
// output's shape.
struct MuxPlan {
    std::array<ChannelRow, kChannelRows> start;
    ChannelFormat source;  // the first registered file's
    // The samples keep their kind in the output: float stays float.
    std::optional<SampleFormat> samples;
    std::int32_t refRate = 0, refBits = 0;
    bool extensible = false, withCue = false;
    std::uint32_t mask = 0;
    int channels = 0;
    std::string outPath;
    std::int64_t inBlock = 0, rate = 0;
    std::uint64_t outBlock = 0, inSecond = 0, outSecond = 0;
    std::uint64_t frames = 0, dataSize = 0;

    // Every row must agree with the first registered one on rate and
    // resolution, on the frame size the samples are copied by, and on float
    // against integer.
    bool agrees(const ChannelEntry& e) const {
        return e.samplesPerSec == refRate && e.bitsPerSample == refBits &&
               e.format.format.blockAlign == source.format.blockAlign && IsFloat(e.format) == IsFloat(source);
    }
};

// Reads the rows once and refuses, before anything is written, what cannot
// be multiplexed, in the order the checks have always run.
MuxPlan PlanMultiplex(const ChannelRowSource& rows, const MultiplexOptions& options) {
    MuxPlan plan;
    int first = -1;
    for (int i = 0; i < kChannelRows; ++i) {
        auto& row = plan.start[static_cast<std::size_t>(i)];
        row = rows.row(i);
        if (row.registered() && first < 0) first = i;
    }
    if (first < 0) throw VelmoraError(kTextNoChannelFiles);

    // Common length over every registered row, checked or not; RF64 rows
    // are longer than 32 bits.
    std::uint64_t commonLength = UINT64_MAX;
    for (const auto& r : plan.start)
        if (r.entry) commonLength = std::min(commonLength, r.entry->dataSize);

    // The output's format is the first registered file's own, whatever was
    // analysed since.
    const ChannelEntry& firstEntry = *plan.start[static_cast<std::size_t>(first)].entry;
    plan.source = firstEntry.format;
    plan.samples = SampleFormatOf(plan.source);
    for (const auto& r : plan.start) {
        if (!r.entry) continue;
        if (plan.refRate == 0) plan.refRate = r.entry->samplesPerSec;
        if (plan.refBits == 0) plan.refBits = r.entry->bitsPerSample;
        if (!plan.agrees(*r.entry)) throw VelmoraError(kTextFormatMismatch);
    }

    bool centre = false;
    int checkedCount = 0;
    for (int i = 0; i < kChannelRows; ++i) {
        if (!plan.start[static_cast<std::size_t>(i)].checked) continue;
        plan.mask |= 1u << i;
        ++checkedCount;
        if (i >= 2) centre = true;
    }
    plan.extensible = centre && options.extensible;
    plan.withCue = plan.extensible && options.cue;
    plan.outPath =
        OutputPath(options.outputFolder, firstEntry.path, std::string(plan.extensible ? "(EX)" : "") + "(mux).wav");
    plan.channels = options.extensible ? checkedCount : (centre ? 6 : 2);
    if (plan.channels == 0) throw VelmoraError(kTextNoChannelFiles);

    plan.inBlock = plan.source.format.blockAlign;
    plan.rate = plan.source.format.samplesPerSec;
    if (plan.inBlock <= 0 || plan.rate <= 0 || plan.channels * plan.inBlock > 0xFFFF)
        throw VelmoraError(kTextMuxBadFrame);
    plan.outBlock = static_cast<std::uint64_t>(plan.channels * plan.inBlock);
    plan.inSecond = static_cast<std::uint64_t>(plan.inBlock * plan.rate);
    plan.outSecond = plan.outBlock * static_cast<std::uint64_t>(plan.rate);

    // Whole frames only: a trailing partial frame would make the data size
    // promise bytes that are never written.
    plan.frames = commonLength / static_cast<std::uint64_t>(plan.inBlock);
    plan.dataSize = plan.frames * plan.outBlock;

    // An input that would be overwritten, a checked row whose file cannot be
    // read.
    for (const auto& r : plan.start)
        if (r.registered() && SameFile(r.inputPath(), plan.outPath)) throw VelmoraError(kTextOutputIsInput);
    for (const auto& r : plan.start) {
        if (!r.checked) continue;
        if (!r.registered()) throw VelmoraError(TextCannotOpen(r.inputPath()));
        File::OpenRead(r.inputPath());  // closed again at once: opened for good after the header
    }
    return plan;
}

// The output's header in the form the plan picked, RF64 past 4 GiB.
std::vector<std::uint8_t> MultiplexHeader(const MuxPlan& plan) {
    const ChannelFormat& source = plan.source;
    HeaderDescription description;
    description.riff = source.riff;
    description.data.dataId = source.dataId;
    description.dataSize = plan.dataSize;
    FormatBlock& fmt = description.format;
    fmt = source.format;
    fmt.channels = static_cast<std::int16_t>(plan.channels);
    fmt.samplesPerSec = static_cast<std::int32_t>(plan.rate);
    fmt.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(plan.channels) *
                                                   static_cast<std::uint32_t>(source.format.avgBytesPerSec));
    fmt.blockAlign = static_cast<std::int16_t>(static_cast<std::uint16_t>(plan.outBlock));
    const SampleFormat samples = plan.samples.value_or(SampleFormat{});
    if (plan.extensible) {
        // 20-bit samples travel in 24-bit containers; validBits keeps the 20.
        if (source.validBits == 0 && source.format.bitsPerSample == 20) fmt.bitsPerSample = 24;
        const std::uint16_t validBits =
            source.validBits != 0 ? source.validBits : static_cast<std::uint16_t>(source.format.bitsPerSample);
        description.extension = ExtensionFor(samples, validBits, plan.mask);
        description.cue = plan.withCue;
    } else {
        UsePlainForm(description, samples);
    }
    return EncodeHeader(description);
}

// The zero area. None is written any more: every output frame is written
// once, whole, and the slots no row fills are silence. The log keeps its
// line, and the user's pending messages run here; what they change in the
// list no longer reaches this run.
void PassZeroArea(Host& host) {
    host.log("00padding");
    host.pumpMessages();
}

struct RowInput {
    File file;
    std::uint64_t start = 0;       // first sample byte
    std::size_t slot = 0;          // its place in an output frame
    std::uint64_t fullBlocks = 0;  // blocks it fills; fewer than the output's when short
};

// The checked rows as the run read them at its start, in order, each with
// the checks, the log line and the open its turn has always had. The first
// row that fails them, or whose file is too short for the output's length,
// stops the run before a sample is written.
std::vector<RowInput> OpenRowInputs(const MuxPlan& plan, bool extensibleLayout, const SecondBlockWalk& walk,
                                    Host& host) {
    const std::uint64_t blocks = walk.seconds + (walk.remainder > 0 ? 1 : 0);
    std::vector<RowInput> inputs;
    int met = 0;
    for (int i = 0; i < kChannelRows; ++i) {
        const ChannelRow& r = plan.start[static_cast<std::size_t>(i)];
        if (!r.checked) continue;
        ++met;
        const int slot = extensibleLayout ? met - 1 : i;
        if (slot >= plan.channels) continue;
        const std::string inPath = r.inputPath();
        host.log(inPath);
        if (!r.registered()) throw VelmoraError(TextCannotOpen(inPath));
        const ChannelEntry& e = *r.entry;
        if (!plan.agrees(e)) throw VelmoraError(kTextFormatMismatch);
        if (SameFile(inPath, plan.outPath)) throw VelmoraError(kTextOutputIsInput);
        RowInput in{File::OpenRead(inPath)};
        RequireRegisteredFile(in.file, e);
        in.start = static_cast<std::uint64_t>(static_cast<std::uint32_t>(e.dataChunkPos)) + DataHeader::kSize;
        in.slot = static_cast<std::size_t>(slot);
        const std::uint64_t size = in.file.size();
        const std::uint64_t avail = size > in.start ? size - in.start : 0;
        in.fullBlocks = std::min(walk.seconds, avail / plan.inSecond);
        if (in.fullBlocks == walk.seconds && walk.remainder > 0 &&
            avail - walk.seconds * plan.inSecond >= walk.remainder * static_cast<std::uint64_t>(plan.inBlock))
            in.fullBlocks = blocks;
        if (in.fullBlocks < blocks) {
            const std::uint64_t want =
                (in.fullBlocks < walk.seconds ? walk.rate : walk.remainder) * static_cast<std::uint64_t>(plan.inBlock);
            const std::uint64_t got = std::min(avail - std::min(avail, in.fullBlocks * plan.inSecond), want);
            host.log(Format("in size:%d miss:%d ", AsInt32(size), AsInt32(got)));
            throw VelmoraError(kTextShortRead);
        }
        inputs.push_back(std::move(in));
    }
    return inputs;
}

// The row passes in one: each block of every input is read once and its
// output frames written once.
void WriteRowBlocks(const MuxPlan& plan, const SecondBlockWalk& walk, std::vector<RowInput>& inputs, OutputFile& out,
                    Host& host) {
    // One second of the output and of each input, or the whole data when it
    // is shorter; the slots no input fills take theirs from `silence`.
    const auto inBlock = static_cast<std::uint64_t>(plan.inBlock);
    const std::uint64_t piece = walk.pieceFrames;
    const std::size_t inBytes =
        static_cast<std::size_t>(std::min({plan.inSecond, plan.frames * inBlock, piece * inBlock}));
    std::vector<std::uint8_t> outBuf(
        static_cast<std::size_t>(std::min({plan.outSecond, plan.dataSize, piece * plan.outBlock})));
    std::vector<std::uint8_t> inBufs(inBytes * inputs.size()), silence(inBytes, 0);
    std::vector<const std::uint8_t*> slots(static_cast<std::size_t>(plan.channels));
    WalkSecondBlocks(host, walk, [&](const SecondBlock& b) {
        const std::uint64_t inWant = b.frames * inBlock;
        std::fill(slots.begin(), slots.end(), silence.data());
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            RowInput& in = inputs[k];
            if (b.index >= in.fullBlocks) continue;  // past the end of a short input: silence
            std::uint8_t* buf = inBufs.data() + k * inBytes;
            const std::size_t got = in.file.readAt(in.start + b.index * plan.inSecond + b.first * inBlock, buf, inWant);
            // Shortened since it was opened: the run stops here.
            if (got < inWant) {
                host.log(Format("in size:%d miss:%d ", AsInt32(in.file.size()), AsInt32(got)));
                throw VelmoraError(kTextShortRead);
            }
            slots[in.slot] = buf;
        }
        kernels::Interleave(slots.data(), slots.size(), static_cast<std::size_t>(plan.inBlock), outBuf.data(),
                            static_cast<std::size_t>(b.frames));
        out.writeAt(b.offset, outBuf.data(), b.frames * plan.outBlock);
    });
}

}  // namespace

std::vector<std::string> WriteMultiplex(const ChannelRowSource& rows, const MultiplexOptions& options, Host& host) {
    host.clearLog();
    const MuxPlan plan = PlanMultiplex(rows, options);
    const std::vector<std::uint8_t> header = MultiplexHeader(plan);
    host.log(plan.outPath);
    OutputFile out = OutputFile::Create(plan.outPath);
    out.writeAt(0, header.data(), header.size());

    // Whole output seconds, then the frames after them; the progress counts a
    // second before it is written, the messages run after it.
    SecondBlockWalk walk;
    walk.seconds = plan.dataSize / plan.outSecond;
    walk.rate = static_cast<std::uint64_t>(plan.rate);
    walk.remainder = (plan.dataSize - walk.seconds * plan.outSecond) / plan.outBlock;
    walk.start = header.size();
    walk.secondBytes = plan.outSecond;
    walk.progress = BlockProgress::BeforeCounting;
    walk.pump = BlockPump::After;
    walk.pieceFrames = PieceFrames(static_cast<std::size_t>(plan.outBlock));

    PassZeroArea(host);
    std::vector<RowInput> inputs = OpenRowInputs(plan, options.extensible, walk, host);
    WriteRowBlocks(plan, walk, inputs, out, host);
    for (RowInput& in : inputs) in.file.close();
    out.seek(header.size() + plan.dataSize);
    WritePad(out, plan.dataSize);
    out.commit();
    host.log("end");
    return {plan.outPath};
}


std::string MultiplexOutputPath(const ChannelRowSource& rows, const MultiplexOptions& options) {
    return PlanMultiplex(rows, options).outPath;
}

namespace {

constexpr VerbOption kMuxOptions[] = {
    {"--left", "Mono file for the Left channel", OptionKind::Value, "F"},
    {"--right", "Mono file for the Right channel", OptionKind::Value, "F"},
    {"--center", "Mono file for the Center channel", OptionKind::Value, "F"},
    {"--lfe", "Mono file for the LFE channel", OptionKind::Value, "F"},
    {"--s-left", "Mono file for the S-Left channel", OptionKind::Value, "F"},
    {"--s-right", "Mono file for the S-Right channel", OptionKind::Value, "F"},
    {"--plain",
     "Plain 16-byte format chunk (no extensible header); with a centre or rear file, six channels with silent gaps",
     OptionKind::Flag},
    {"--cue", "Add the empty cue chunk (extensible header only)", OptionKind::Flag, nullptr, nullptr, "plain"},
    {"-o,--output", "Output folder (default: folder of the last file given)", OptionKind::Value, "DIR"},
};

// The rows as a user dropping the files one after the other fills them, and
// the options of the writer. Throws the first file's refusal.
struct MuxInputs {
    ChannelList list;
    MultiplexOptions options;
};
MuxInputs MuxInputsOf(const Subject& s) {
    MuxInputs in;
    WaveInfo info;
    AnalysisResult last;
    std::string lastPath;
    for (int row = 0; row < kChannelRows; ++row) {
        const std::string path = s.options.text(OptionKey(kMuxOptions[row]));
        if (path.empty()) continue;
        ChannelRegistration reg = RegisterChannelFile(row, path, info, in.list);
        if (!reg.registered)
            throw VelmoraError(reg.refusal ? *reg.refusal : reg.analysis.failure.value_or(kTextNotAnalysed));
        last = std::move(reg.analysis);
        lastPath = path;
    }
    if (lastPath.empty()) throw VelmoraError(kTextNoChannelFiles);
    // The window offers the multiplex only when the file registered last allows it.
    const Refusal why = WhyNotOffered(info, last)[static_cast<std::size_t>(Operation::Multiplex)];
    if (why.code != Reason::None) throw VelmoraError(why.text);
    in.options.extensible = !s.options.flag("plain");
    in.options.cue = s.options.flag("cue");
    in.options.outputFolder = OutputFolderFor(s.options.text("output"), lastPath);
    return in;
}

}  // namespace

const OperationRecord kMultiplexRecord{
    .summary =
        "Multiplex mono WAV files, one per speaker, into one multichannel file named after the first one, "
        "NAME(EX)(mux).wav (NAME(mux).wav with only left and right or --plain). The files must share rate "
        "and bits (8/16/24/32-bit integer or 32/64-bit float)",
    .options = kMuxOptions,
    .input = Input::MonoFiles,
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            using namespace rules;
            return First(w, r, {ShortFormat, Compressed, NarrowOnly, Footer, FileSizeWrong, TailNotChunks});
        },
    .plan =
        [](const Subject& s) {
            const MuxInputs in = MuxInputsOf(s);
            return Plan{{{MultiplexOutputPath(in.list, in.options)}}};
        },
    .run =
        [](Subject& s, Host& host) {
            const MuxInputs in = MuxInputsOf(s);
            return WriteMultiplex(in.list, in.options, host);
        },
};

}  // namespace velmora
