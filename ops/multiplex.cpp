#include "multiplex.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "ops/sample_kernels.h"
#include "wav/rf64.h"
#include "wav/error.h"
#include "wav/file.h"
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
    std::error_code ec;
    bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

std::int32_t AsInt32(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

const char* ChannelCaption(int row) {
    CheckRowIndex(row);
    return SpeakerNames[static_cast<std::size_t>(row)];
}

std::optional<SampleNumbers> ParseSampleText(const std::string& text) {
    std::int32_t values[4];
    int count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i == text.size()) break;
        std::size_t end = text.find(' ', i);
        if (end == std::string::npos) end = text.size();
        if (count == 4) return std::nullopt;
        auto v = TryStrToInt(std::string_view(text).substr(i, end - i));
        if (!v) return std::nullopt;
        values[count++] = *v;
        i = end;
    }
    if (count != 4) return std::nullopt;
    return SampleNumbers{values[0], values[1], values[2], values[3]};
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

ChannelRegistration RegisterChannelFile(int row, WaveInfo& info, ChannelList& list) {
    CheckRowIndex(row);
    const std::string path = info.droppedFileName;
    ChannelRegistration reg;
    reg.analysis = AnalyzeWave(path, info);
    // A rejected analysis leaves WaveInfo partly describing the previous file;
    // its numbers must not end up in the row.
    if (!reg.analysis.complete()) return reg;
    if (info.channels != 1) {
        reg.refusal = kTextMonoOnly;
        return reg;
    }
    ChannelRow r;
    r.file = FileNamePart(path);
    r.path = FolderPart(path);
    r.checked = true;
    r.sample = Format("%d %d %d %d", static_cast<std::int32_t>(info.dataSize), info.dataChunkPos,
                      info.samplesPerSec, static_cast<int>(info.bitsPerSample));
    r.format = ChannelFormat{info.riffHeader(), info.formatBlock(), info.validBits, info.subFormatTag, info.dataId};
    list.setRow(row, std::move(r));
    reg.registered = true;
    return reg;
}

void ClearChannelList(ChannelList& list) {
    for (int i = 0; i < kChannelRows; ++i) list.setRow(i, ChannelRow{});
}

std::vector<std::string> WriteMultiplex(const ChannelRowSource& rows, const MultiplexOptions& options,
                                        Host& host) {
    host.clearLog();

    // Everything that decides the output's shape is taken from the rows as
    // they are now; the rows are read once more before the samples move.
    std::array<ChannelRow, kChannelRows> start;
    std::array<std::optional<SampleNumbers>, kChannelRows> numbers;
    int first = -1;
    for (int i = 0; i < kChannelRows; ++i) {
        start[i] = rows.row(i);
        if (start[i].registered()) {
            numbers[i] = ParseSampleText(start[i].sample);
            if (first < 0) first = i;
        }
    }
    if (first < 0) throw VelmoraError(kTextNoChannelFiles);

    // Common length over every registered row, checked or not. The numbers
    // are printed signed; a size of 2 GiB or more is its unsigned value.
    std::uint32_t commonLength = 0xFFFFFFFFu;
    for (const auto& n : numbers)
        if (n && static_cast<std::uint32_t>(n->dataSize) < commonLength)
            commonLength = static_cast<std::uint32_t>(n->dataSize);

    // The output's format is the first registered file's own, whatever was
    // analysed since; every row must agree with it on rate and resolution,
    // and on the frame size the samples are copied by.
    const ChannelFormat& source = *start[first].format;
    const auto sampleFormatOf = [](const ChannelFormat& f) {
        return TransformSampleFormat(f.format.formatTag, f.subFormatTag, f.format.channels, f.format.blockAlign,
                                     f.format.bitsPerSample);
    };
    // Samples wider than 16 bits, or float, keep their kind in the output;
    // float and integer rows of one width never mix.
    const std::optional<SampleFormat> wide = [&]() -> std::optional<SampleFormat> {
        auto f = sampleFormatOf(source);
        return f && f->wide() ? f : std::nullopt;
    }();
    const auto isFloat = [&](const ChannelFormat& f) {
        auto sf = sampleFormatOf(f);
        return sf && sf->isFloat();
    };
    std::int32_t refRate = 0, refBits = 0;
    const auto agrees = [&](const SampleNumbers& n, const ChannelFormat& f) {
        return n.samplesPerSec == refRate && n.bitsPerSample == refBits &&
               f.format.blockAlign == source.format.blockAlign && isFloat(f) == isFloat(source);
    };
    for (int i = 0; i < kChannelRows; ++i) {
        if (!numbers[i]) continue;
        if (refRate == 0) refRate = numbers[i]->samplesPerSec;
        if (refBits == 0) refBits = numbers[i]->bitsPerSample;
        if (!agrees(*numbers[i], *start[i].format)) throw VelmoraError(kTextFormatMismatch);
    }
    const std::string base = StripExtension(start[first].file);

    bool centre = false;
    std::uint32_t mask = 0;
    int checkedCount = 0;
    for (int i = 0; i < kChannelRows; ++i) {
        if (!start[i].checked) continue;
        mask |= 1u << i;
        ++checkedCount;
        if (i >= 2) centre = true;
    }
    const bool extensible = centre && options.exwavechk;
    const bool withCue = extensible && options.cuechk;
    const std::string outPath =
        PathInFolder(options.outputFolder, base + (extensible ? "(EX)" : "") + "(mux).wav");
    const int channels = options.exwavechk ? checkedCount : (centre ? 6 : 2);
    if (channels == 0) throw VelmoraError(kTextNoChannelFiles);

    const std::int64_t inBlock = source.format.blockAlign;
    const std::int64_t rate = source.format.samplesPerSec;
    if (inBlock <= 0 || rate <= 0 || channels * inBlock > 0xFFFF) throw VelmoraError(kTextMuxBadFrame);
    const std::uint64_t outBlock = static_cast<std::uint64_t>(channels * inBlock);
    const std::uint64_t inSecond = static_cast<std::uint64_t>(inBlock * rate);
    const std::uint64_t outSecond = outBlock * static_cast<std::uint64_t>(rate);

    // Whole frames only: a trailing partial frame would make the data size
    // promise bytes that are never written.
    const std::uint64_t frames = commonLength / static_cast<std::uint64_t>(inBlock);
    const std::uint64_t dataSize = frames * outBlock;

    // Refuse before anything is written: an input that would be overwritten,
    // a checked row whose file cannot be read.
    for (const auto& r : start)
        if (r.registered() && SameFile(r.inputPath(), outPath)) throw VelmoraError(kTextOutputIsInput);
    for (const auto& r : start) {
        if (!r.checked) continue;
        if (!r.registered()) throw VelmoraError(TextCannotOpen(r.inputPath()));
        File::OpenRead(r.inputPath());  // closed again at once: opened for good after the header
    }

    RiffHeader riff = source.riff;
    FormatBlock fmt = source.format;
    fmt.channels = static_cast<std::int16_t>(channels);
    fmt.samplesPerSec = static_cast<std::int32_t>(rate);
    fmt.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(channels) *
                                                   static_cast<std::uint32_t>(source.format.avgBytesPerSec));
    fmt.blockAlign = static_cast<std::int16_t>(static_cast<std::uint16_t>(outBlock));
    const DataHeader data{source.dataId, static_cast<std::uint32_t>(dataSize)};
    std::vector<std::uint8_t> header;
    if (extensible) {
        riff.riffSize = static_cast<std::uint32_t>(dataSize) + (withCue ? 120u : 60u);
        // 20-bit samples travel in 24-bit containers; validBits keeps the 20.
        if (source.validBits == 0 && source.format.bitsPerSample == 20) fmt.bitsPerSample = 24;
        const std::uint16_t validBits =
            source.validBits != 0 ? source.validBits : static_cast<std::uint16_t>(source.format.bitsPerSample);
        header = wide ? BuildExtensibleHeaderFor(*wide, riff, fmt, validBits, mask, data, withCue)
                      : BuildExtensibleHeader(riff, fmt, validBits, mask, data, withCue);
    } else if (wide) {
        header = BuildPlainHeaderFor(*wide, riff, fmt, data);
    } else {
        riff.riffSize = static_cast<std::uint32_t>(dataSize) + 36u;
        fmt.formatTag = kFormatPcm;
        header = BuildPlainHeader(riff, fmt, data);
    }

    header = SizedHeader(std::move(header), dataSize);
    host.log(outPath);
    OutputFile out = OutputFile::Create(outPath);
    out.writeAt(0, header.data(), header.size());
    const std::uint64_t dataStart = header.size();

    const std::uint64_t seconds = dataSize / outSecond;
    const std::uint64_t remainder = (dataSize - seconds * outSecond) / outBlock;
    const std::uint64_t blocks = seconds + (remainder > 0 ? 1 : 0);
    const auto percent = [seconds](std::uint64_t s) { return static_cast<int>(100 * s / seconds); };
    // No zero area is written any more: every output frame is written once,
    // whole, and the slots no row fills are silence. The log keeps its line.
    host.log("00padding");
    // The user may change the list while messages run; the rows are read
    // again after this, once, and the samples move as they say then.
    host.pumpMessages();

    // The checked rows in order, each with the checks, the log line and the
    // open its turn has always had. A row that fails them, or whose file is
    // too short for the output's length, ends the list: the rows before it
    // are still written in full (and the short one up to the block it cannot
    // fill), then its failure is reported, as when each row had a pass of
    // its own.
    struct Input {
        File file;
        std::uint64_t start = 0;       // first sample byte
        std::size_t slot = 0;          // its place in an output frame
        std::uint64_t fullBlocks = 0;  // blocks it fills; fewer than `blocks` when short
    };
    std::vector<Input> inputs;
    std::exception_ptr failure;
    std::string shortLine;  // the log line of a short input
    int met = 0;
    for (int i = 0; i < kChannelRows && !failure && shortLine.empty(); ++i) {
        const ChannelRow r = rows.row(i);
        if (!r.checked) continue;
        ++met;
        const int slot = options.exwavechk ? met - 1 : i;
        // A row checked after the run began may find no channel left for it.
        if (slot >= channels) continue;
        const std::string inPath = r.inputPath();
        host.log(inPath);
        try {
            if (!r.registered()) throw VelmoraError(TextCannotOpen(inPath));
            const SampleNumbers n = *ParseSampleText(r.sample);
            if (!agrees(n, *r.format)) throw VelmoraError(kTextFormatMismatch);
            if (SameFile(inPath, outPath)) throw VelmoraError(kTextOutputIsInput);
            Input in{File::OpenRead(inPath)};
            in.start = static_cast<std::uint64_t>(static_cast<std::uint32_t>(n.dataChunkPos)) + 8;
            in.slot = static_cast<std::size_t>(slot);
            const std::uint64_t size = in.file.size();
            const std::uint64_t avail = size > in.start ? size - in.start : 0;
            in.fullBlocks = std::min(seconds, avail / inSecond);
            if (in.fullBlocks == seconds && remainder > 0 &&
                avail - seconds * inSecond >= remainder * static_cast<std::uint64_t>(inBlock))
                in.fullBlocks = blocks;
            if (in.fullBlocks < blocks) {
                const std::uint64_t want =
                    (in.fullBlocks < seconds ? static_cast<std::uint64_t>(rate) : remainder) *
                    static_cast<std::uint64_t>(inBlock);
                const std::uint64_t got = std::min(avail - std::min(avail, in.fullBlocks * inSecond), want);
                shortLine = Format("in size:%d miss:%d ", AsInt32(size), AsInt32(got));
            }
            inputs.push_back(std::move(in));
        } catch (const VelmoraError&) {
            failure = std::current_exception();
        }
    }

    // One second of the output and of each input, or the whole data when it
    // is shorter; the slots no input fills take theirs from `silence`.
    const std::size_t inBytes =
        static_cast<std::size_t>(std::min(inSecond, frames * static_cast<std::uint64_t>(inBlock)));
    std::vector<std::uint8_t> outBuf(static_cast<std::size_t>(std::min(outSecond, dataSize)));
    std::vector<std::uint8_t> inBufs(inBytes * inputs.size()), silence(inBytes, 0);
    std::vector<const std::uint8_t*> slots(static_cast<std::size_t>(channels));
    const auto fillBlock = [&](std::uint64_t b, std::uint64_t frameCount) {
        const std::uint64_t inWant = frameCount * static_cast<std::uint64_t>(inBlock);
        std::fill(slots.begin(), slots.end(), silence.data());
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            Input& in = inputs[k];
            if (b >= in.fullBlocks) continue;  // past the end of a short input: silence
            std::uint8_t* buf = inBufs.data() + k * inBytes;
            const std::size_t got = in.file.readAt(in.start + b * inSecond, buf, inWant);
            // Shortened since it was opened: the run stops here.
            if (got < inWant) {
                host.log(Format("in size:%d miss:%d ", AsInt32(in.file.size()), AsInt32(got)));
                throw VelmoraError(kTextShortRead);
            }
            slots[in.slot] = buf;
        }
        kernels::Interleave(slots.data(), slots.size(), static_cast<std::size_t>(inBlock), outBuf.data(),
                            static_cast<std::size_t>(frameCount));
        out.writeAt(dataStart + b * outSecond, outBuf.data(), frameCount * outBlock);
    };
    for (std::uint64_t s = 1; s <= seconds; ++s) {
        host.progress(percent(s));
        fillBlock(s - 1, static_cast<std::uint64_t>(rate));
        host.pumpMessages();
    }
    if (remainder > 0) fillBlock(seconds, remainder);
    for (Input& in : inputs) in.file.close();
    if (!shortLine.empty()) {
        host.log(shortLine);
        throw VelmoraError(kTextShortRead);
    }
    if (failure) std::rethrow_exception(failure);
    out.commit();
    host.log("end");
    return {outPath};
}

}  // namespace velmora
