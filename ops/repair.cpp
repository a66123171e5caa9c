#include "ops/repair.h"
#include "ops/records.h"
#include "ops/rules.h"
#include "ops/option_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "ops/source_checks.h"
#include "ops/output_paths.h"
#include "ops/second_blocks.h"
#include "io/file.h"
#include "wav/header.h"
#include "wav/rf64.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

constexpr std::size_t kFooterBlock = 0x100000;  // 1 MiB
// The rebuild copies at most this much per call, whatever the rate: a huge
// second is moved in pieces, tiny seconds are gathered up to it.
constexpr std::size_t kMaxPiece = 0x100000;

// Reads exactly n bytes at offset or throws: a header unit that is no longer
// all there means the file shrank since the analysis.
void ReadUnit(File& file, std::uint64_t offset, std::uint8_t* buf, std::size_t n) {
    ReadAsAnalysed(file, offset, buf, n);
}

// Copies n bytes from the source's position to the output's. Returns false
// when the source ended first; what was read is written all the same.
bool CopyBytes(File& src, OutputFile& out, std::uint64_t n, BlockMover& mover, std::size_t piece) {
    while (n > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, piece));
        std::size_t got = mover.read(src, want);
        mover.write(out, got);
        if (got < want) return false;
        n -= got;
    }
    return true;
}

// The footer copy's running progress, capped at 100.
int CopiedPercent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) return 100;
    return static_cast<int>(std::min<std::uint64_t>(part * 100 / whole, 100));
}

// The in-place repairs only ever write inside the analysed file as it is now.
void RequireWithin(const File& file, std::uint64_t end) {
    if (file.size() < end) throw VelmoraError(kTextNotAnalysed);
}

// The samples in each block of IMA ADPCM, MS ADPCM and GSM 6.10: the word
// right after cbSize (body bytes 18-19), which the analysis decodes as the
// extension's first field, validBits, when cbSize is above 0. 0 for other
// formats, or when the chunk stops before it.
std::uint16_t SamplesPerBlock(const WaveInfo& info) {
    constexpr std::uint16_t kMsAdpcm = 0x0002, kImaAdpcm = 0x0011, kGsm610 = 0x0031;
    const std::uint16_t tag = info.format.formatTag;
    if (tag != kMsAdpcm && tag != kImaAdpcm && tag != kGsm610) return 0;
    return info.format.fmtSize >= 20 ? info.validBits : 0;
}

}  // namespace

std::string TextUnusableRate(const std::string& rateText) {
    return Format(
        "'%s' はサンプリング周波数に使えません。1以上で、1秒あたりのバイト数が32ビットに収まる値を指定してください",
        rateText.c_str());
}

void RequireUsableRate(std::int32_t rate, const std::string& rateText, std::int16_t blockAlign) {
    // The byte rate is a 32-bit field: a rate whose product with the frame
    // size does not fit would be stored wrapped.
    const std::uint64_t byteRate = static_cast<std::uint64_t>(rate) * static_cast<std::uint16_t>(blockAlign);
    if (rate <= 0 || byteRate > 0xFFFFFFFFull) throw VelmoraError(TextUnusableRate(rateText));
}

std::vector<std::string> RebuildHeader(WaveInfo& info, const RebuildHeaderOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);

    // The header as the analysis saw it; the output is built from it.
    HeaderDescription description = DescriptionOf(info, 0);

    File src = File::OpenRead(options.source);
    RequireUnchanged(src, info);
    std::uint8_t unit[FormatBlock::kSize];
    ReadUnit(src, 0, unit, RiffHeader::kSize);
    info.setRiffHeader(RiffHeader::Decode(unit));
    ReadUnit(src, static_cast<std::uint64_t>(info.fmtChunkPos), unit, FormatBlock::kSize);
    info.format = FormatBlock::Decode(unit);
    ReadUnit(src, static_cast<std::uint64_t>(info.dataChunkPos), unit, DataHeader::kSize);
    info.setDataHeader(DataHeader::Decode(unit));

    if (info.format.fmtSize == 16 && info.fmtChunkPos == static_cast<std::int32_t>(kFirstChunkAt)) {
        src.close();
        host.message("fmtチャンクが再構築対象外です。");
        return {};
    }
    // The copy moves one second of 16-bit frames per block; a header whose
    // rate, channels or blockAlign cannot give such blocks gets no output
    // that its header would misdescribe.
    RequireUsableLayout(info);
    RequireSixteenBitFrames(info);

    // One second of 16-bit audio, from the format block just read.
    const std::int64_t frameBytes = 2 * static_cast<std::int64_t>(info.format.channels);
    const std::int64_t secondBytes = std::max<std::int64_t>(0, info.format.samplesPerSec * frameBytes);
    const std::int64_t seconds = info.totalSeconds();
    const std::int64_t restBytes = std::max<std::int64_t>(0, info.playRemainderFrames * frameBytes);

    // Whatever tag the source's chunk had, the plain 16-byte form says
    // integer PCM; readers take no other tag in it.
    description.format.formatTag = kFormatPcm;
    // The output describes itself: its data chunk holds exactly the whole
    // frames copied, and nothing follows it, whatever chunks the source had.
    const std::int64_t copied = seconds * secondBytes + restBytes;
    description.dataSize = static_cast<std::uint64_t>(copied);

    const std::string path = RebuildHeaderOutputPath(options);
    OutputFile out = OutputFile::Create(path, {&src});
    const std::vector<std::uint8_t> header = EncodeHeader(description);
    out.write(header.data(), header.size());

    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(copied, kMaxPiece));
    BlockMover mover(piece);
    const std::uint64_t dataStart = info.dataStart();
    src.seek(dataStart);

    // The copy runs on from where the last copy ended, a piece at a time
    // however small the seconds are; a piece the source cannot fill ends it.
    std::uint64_t owed = 0;  // bytes of the seconds walked, not yet copied
    SecondBlockWalk walk = PlayTimeWalk(info, dataStart, static_cast<std::uint64_t>(secondBytes));
    walk.progress = BlockProgress::After;
    bool whole = WalkSecondBlocks(host, walk, [&](const SecondBlock& b) {
        owed += b.frames * static_cast<std::uint64_t>(frameBytes);
        if (owed < piece) return true;
        return CopyBytes(src, out, std::exchange(owed, 0), mover, piece);
    });
    if (whole && owed > 0) whole = CopyBytes(src, out, owed, mover, piece);

    // The source lost bytes since the analysis: the output is incomplete.
    if (!whole) throw VelmoraError(TextSourceChanged(options.source));
    WritePad(out, static_cast<std::uint64_t>(copied));
    RequireUnchanged(src, info);
    src.close();
    out.commit();
    return {path};
}

std::vector<std::string> RewriteRiffSize(WaveInfo& info, const RewriteRiffSizeOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);

    // The new size is the analysed length; a file that changed since, or is
    // still being written, would get a size matching neither.
    File file = OpenForPatch(options.source, info);
    std::uint8_t unit[RiffHeader::kSize];
    info.riff.Encode(unit);
    RequireBytesAsAnalysed(file, 0, unit, sizeof unit);
    const bool rf64 = info.rf64;
    info.setRiffHeader(RiffHeader::Decode(unit));

    const std::uint64_t riffSize = RiffSizeOfFile(info.fileSize);
    // The size goes where the analysis reads it: the ds64 chunk only when the
    // 32-bit field defers to it.
    const SizeLayout layout{rf64, GetU32(unit + 4), 0};
    PatchSizeFields(file, {riffSize, std::nullopt, std::nullopt}, layout);
    if (!RiffSizeInDs64(layout, riffSize)) info.riff.riffSize = static_cast<std::uint32_t>(riffSize);
    info.riffSize = riffSize;  // only once the file says so
    info.fileModifiedNs = file.modifiedNs();
    file.close();
    host.progress(100);
    return {options.source};
}

std::vector<std::string> RemoveFooter(const WaveInfo& info, const RemoveFooterOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);

    File src = File::OpenRead(options.source);
    RequireUnchanged(src, info);
    const std::uint32_t headerSize = static_cast<std::uint32_t>(info.dataStart());
    // The source's header is kept whole, so the output still describes
    // itself; its sizes count the samples and their pad byte.
    HeaderDescription description = DescriptionOf(info, info.dataSize);
    description.copied.resize(headerSize);
    description.trailing = info.formatAfterData;
    ReadUnit(src, 0, description.copied.data(), headerSize);
    const std::vector<std::uint8_t> header = EncodeHeader(description);
    const std::uint64_t pad = PadAfter(info.dataSize);

    const std::string path = RemoveFooterOutputPath(options);
    OutputFile out = OutputFile::Create(path, {&src});
    out.write(header.data(), header.size());

    // The samples, then the pad byte (the source's, or a zero where the
    // source left it out); every chunk after them goes.
    const std::uint64_t count = std::min<std::uint64_t>(info.dataSize + info.dataPad, info.dataSize + pad);
    src.seek(headerSize);
    BlockMover mover(kFooterBlock);
    std::uint64_t total = 0;
    std::uint64_t written = 0;
    do {
        std::size_t got = mover.read(src, kFooterBlock);
        if (got == 0 && written < count) {
            // The file holds fewer bytes than counted (it shrank since the
            // analysis): no output.
            RequireUnchanged(src, info);
            throw VelmoraError(TextCannotRead(options.source));
        }
        total += got;
        host.progress(CopiedPercent(total, info.fileSize));
        std::uint64_t take = total > count ? count - written : got;
        mover.write(out, static_cast<std::size_t>(take));
        written += take;
    } while (written < count);

    if (info.dataPad == 0) WritePad(out, info.dataSize);
    CopyFormatAfterData(src, out, info);
    RequireUnchanged(src, info);
    src.close();
    out.commit();
    host.progress(100);
    return {path};
}

FormatBlock RateRewritten(const WaveInfo& info, std::int32_t rate) {
    const std::string rateText = std::to_string(rate);
    RequireUsableRate(rate, rateText, info.format.blockAlign);
    FormatBlock patched = info.format;
    patched.samplesPerSec = rate;
    patched.avgBytesPerSec = ByteRate(rate, info.format.blockAlign);
    // Blocks of a fixed count of samples: the byte rate follows from them,
    // rounded down as readers derive it. RequireUsableRate keeps it in 32 bits.
    if (const std::uint16_t perBlock = SamplesPerBlock(info); perBlock > 0) {
        const std::uint64_t bytes =
            static_cast<std::uint64_t>(rate) * static_cast<std::uint16_t>(info.format.blockAlign);
        patched.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes / perBlock));
        return patched;
    }
    // Another compressed block holds many frames: its byte rate keeps its
    // ratio to the sampling frequency instead.
    if (IsCompressedFormat(info) && info.format.samplesPerSec > 0) {
        const std::uint64_t scaled =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(info.format.avgBytesPerSec)) *
                 static_cast<std::uint64_t>(rate) +
             static_cast<std::uint64_t>(info.format.samplesPerSec) / 2) /
            static_cast<std::uint64_t>(info.format.samplesPerSec);
        if (scaled > 0xFFFFFFFFull) throw VelmoraError(TextUnusableRate(rateText));
        patched.avgBytesPerSec = static_cast<std::int32_t>(static_cast<std::uint32_t>(scaled));
    }
    return patched;
}

std::vector<std::string> RewriteSampleRate(WaveInfo& info, const RewriteSampleRateOptions& options, Host& /*host*/) {
    if (options.source.empty()) return {};
    RequireRateRewritable(options.source, info);
    const std::int32_t rate = options.rate;
    // The front end named the rate as typed; here it is the number itself.
    const std::string rateText = std::to_string(rate);
    if (rate <= 0) throw VelmoraError(TextUnusableRate(rateText));

    File file = OpenForPatch(options.source, info);
    const auto at = static_cast<std::uint64_t>(info.fmtChunkPos);
    RequireWithin(file, at + FormatBlock::kSize);
    std::uint8_t unit[FormatBlock::kSize];
    info.format.Encode(unit);
    RequireBytesAsAnalysed(file, at, unit, sizeof unit);
    const FormatBlock patched = RateRewritten(info, rate);
    patched.Encode(unit);
    RequireFieldInChunk(file, "fmt ", at, at, sizeof unit, kTextFormatTooShort);
    if (ChunksOverlap(at, at + sizeof unit, static_cast<std::uint64_t>(info.dataChunkPos),
                      info.dataStart() + info.dataSize))
        throw VelmoraError(kTextChunksOverlap);
    // The whole block at once: the file is never left half-patched.
    PatchInPlace(file, at, unit, sizeof unit);
    info.format = patched;  // only once the file says so
    info.fileModifiedNs = file.modifiedNs();
    file.close();
    return {options.source};
}


std::string RebuildHeaderOutputPath(const RebuildHeaderOptions& options) {
    return OutputPath(options.outputFolder, options.source, "(reheader).wav");
}

std::string RemoveFooterOutputPath(const RemoveFooterOptions& options) {
    return OutputPath(options.outputFolder, options.source, "(futta del).wav");
}

namespace {

constexpr VerbOption kCopyOptions[] = {kOutputFolderOption};

// A frame of one byte: only the integer and its sign are judged when the
// command line is read; the byte rate depends on each file's frame size.
void CheckRate(const std::string& text) { ParseSampleRate(text, 1); }
constexpr VerbOption kSetRateOptions[] = {
    {"RATE", "New sampling frequency: an integer of at least 1 (decimal, or hex after $ or 0x)", OptionKind::Value,
     nullptr, CheckRate, nullptr, true, nullptr, "48000,44100,32000"},
};

RebuildHeaderOptions RebuildOptionsOf(const Subject& s) { return {s.path, s.options.text("output")}; }
RemoveFooterOptions FooterOptionsOf(const Subject& s) { return {s.path, s.options.text("output")}; }

}  // namespace

const OperationRecord kRebuildHeaderRecord{
    .summary =
        "Copy each 16-bit stereo integer FILE whose format chunk is not the plain 16-byte one into "
        "FILE(reheader).wav with the plain 44-byte header (RF64 once the file passes 4 GiB)",
    .filesHelp = "WAV files to rebuild",
    .options = kCopyOptions,
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            using namespace rules;
            return First(w, r,
                         {ShortFormat, Compressed, NotStereo16, PlainFormat, NotInteger, BadFrames, FrameLayout, Footer,
                          FileSizeWrong, TailNotChunks});
        },
    .plan = [](const Subject& s) { return Plan{{{RebuildHeaderOutputPath(RebuildOptionsOf(s))}}}; },
    .run = [](Subject& s, Host& host) { return RebuildHeader(s.info, RebuildOptionsOf(s), host); },
};

const OperationRecord kFixRiffSizeRecord{
    .summary =
        "Rewrite the RIFF size of each FILE in place to its length less 8. A file whose size already "
        "matches is left alone (exit status 0, with a note)",
    .filesHelp = "WAV files to patch",
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            return rules::First(w, r, {rules::DataSizeWrong, rules::RiffSizeRight});
        },
    .plan =
        [](const Subject& s) {
            return Plan{{{s.path, true,
                          "RIFF size " + std::to_string(s.info.riffSize) + " -> " +
                              std::to_string(RiffSizeOfFile(s.info.fileSize))}}};
        },
    .run = [](Subject& s, Host& host) { return RewriteRiffSize(s.info, {s.path}, host); },
};

const OperationRecord kRemoveFooterRecord{
    .summary = "Copy each FILE without its trailing LIST chunk into FILE(futta del).wav",
    .filesHelp = "WAV files with a LIST footer",
    .options = kCopyOptions,
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            return rules::First(w, r, {rules::ShortFormat, rules::NoFooter});
        },
    .plan = [](const Subject& s) { return Plan{{{RemoveFooterOutputPath(FooterOptionsOf(s))}}}; },
    .run = [](Subject& s, Host& host) { return RemoveFooter(s.info, FooterOptionsOf(s), host); },
};

const OperationRecord kSetRateRecord{
    .summary = "Rewrite the sampling frequency and the byte rate of each FILE in place; the samples stay as they are",
    .filesHelp = "WAV files to patch",
    .options = kSetRateOptions,
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            using namespace rules;
            return First(w, r, {ShortFormat, Footer, FileSizeWrong, TailNotChunks, RateOverlapsData});
        },
    .plan =
        [](const Subject& s) {
            const FormatBlock& before = s.info.format;
            const FormatBlock after = RateRewritten(s.info, ParseSampleRate(s.options.text("rate"), before.blockAlign));
            return Plan{{{s.path, true,
                          "sampling frequency " + std::to_string(before.samplesPerSec) + " -> " +
                              std::to_string(after.samplesPerSec) + ", byte rate " +
                              std::to_string(before.avgBytesPerSec) + " -> " + std::to_string(after.avgBytesPerSec)}}};
        },
    .run =
        [](Subject& s, Host& host) {
            const std::int32_t rate = ParseSampleRate(s.options.text("rate"), s.info.format.blockAlign);
            return RewriteSampleRate(s.info, {s.path, rate}, host);
        },
};

}  // namespace velmora
