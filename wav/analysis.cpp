#include "wav/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "io/file.h"
#include "io/patch.h"
#include "wav/bytes.h"
#include "wav/chunks.h"
#include "wav/error.h"
#include "wav/header.h"
#include "wav/rf64.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The chunk searches look at offsets up to 2048; the format block, cbSize and
// the extension behind a format chunk found at 2048 reach 34 bytes further.
constexpr std::int32_t kSearchLimit = 2048;
constexpr std::size_t kHeadBytes = kSearchLimit + 34;

// The dump shows at most the bytes up to a data chunk at the search limit.
constexpr std::size_t kHexDumpCap = kSearchLimit + 8;
// Chunk positions are 32-bit fields of the record.
constexpr std::uint64_t kMaxChunkPos = 0x7FFFFFFF - 8;

// The byte search of a damaged chain: the first offset from `from` on, up
// to the search limit (or 2048 bytes past a break beyond it), that holds the
// id and lies in no body the chain vouches for: a chunk followed by a
// well-formed one, or by a known id, had a true size. The chunk before the
// break had not.
std::optional<std::int32_t> SearchChunkId(File& file, const std::vector<std::uint8_t>& head, const ChunkTable& table,
                                          std::uint64_t from, const char* id) {
    const std::uint64_t brokenAt = table.brokenAt.value_or(0);
    const std::uint64_t last = brokenAt <= kSearchLimit ? std::uint64_t{kSearchLimit} : brokenAt + kSearchLimit;
    if (from > last || last > kMaxChunkPos) return std::nullopt;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> vouched;
    for (std::size_t i = 0; i + 1 < table.chunks.size(); ++i) {
        const ChunkEntry& next = table.chunks[i + 1];
        const bool nextIsChunk =
            next.wellFormed() || (next.fault == ChunkFault::PastEnd &&
                                  IsCommonChunkId(reinterpret_cast<const std::uint8_t*>(next.id.data())));
        if (table.chunks[i].wellFormed() && nextIsChunk)
            vouched.emplace_back(table.chunks[i].bodyStart(), table.chunks[i].end());
    }
    // The chain's bodies come in order and never overlap: one pass over
    // them alongside the bytes keeps the search linear in the chunks.
    std::size_t next = 0;
    const auto inBody = [&vouched, &next](std::uint64_t p) {
        while (next < vouched.size() && vouched[next].second <= p) ++next;
        return next < vouched.size() && p >= vouched[next].first;
    };
    std::vector<std::uint8_t> window;
    const std::uint8_t* bytes = head.data();
    std::uint64_t base = 0;
    if (last > kSearchLimit) {
        window.assign(static_cast<std::size_t>(last - from) + 4, 0);
        file.readAt(from, window.data(), window.size());
        bytes = window.data();
        base = from;
    }
    for (std::uint64_t p = from; p <= last; ++p)
        if (!inBody(p) && MatchChunkId(bytes + (p - base), id)) return static_cast<std::int32_t>(p);
    return std::nullopt;
}

// Bytes after the data beyond the LIST footer; 32-bit as the fields for a
// file that fits them.
std::int64_t FooterExcess(const WaveInfo& w) {
    const std::uint32_t chunks = w.listFooterSize + w.formatAfterData;
    if (w.sizesPast32Bits()) return w.footerSize - std::int64_t{chunks};
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w.footerSize) - chunks);
}

// The chunk list is shown when it tells more than the plain layout: other
// chunks, a fault, or a damaged chain.
bool ChunksWorthShowing(const AnalysisResult& r) {
    if (r.searchedFrom || r.riffOmitsPad) return true;
    for (const ChunkEntry& c : r.chunks)
        if ((c.id != "fmt " && c.id != "data") || !ChunkNote(c).empty()) return true;
    return false;
}

// The size checks in one line. A data size that does not hold is said so;
// the footer can only be judged once it does.
std::string StatusLine(const WaveInfo& w, const AnalysisResult& result) {
    std::string status;
    if (result.fileSizeOK)
        status = "ファイルサイズ OK";
    else if (w.footerSize == 0)
        status = Format("ファイルサイズ NG (%+lldByte) ", static_cast<long long>(w.riffSizeExcess));
    else
        status = "ファイルサイズ NG";
    switch (result.dataState) {
        case DataSizeState::Unfinalized: return status + "/データサイズ NG (未確定)";
        case DataSizeState::PastEnd:
            return status +
                   Format("/データサイズ NG (-%lluByte) ", static_cast<unsigned long long>(result.dataMissing));
        case DataSizeState::Sound: break;
    }
    status += "/データサイズ OK";
    if (result.footerOK && result.partialFrame != 0)
        status += Format("/端数フレーム(%uByte)", result.partialFrame);
    else if (result.footerOK)
        status += "/フッタ OK";
    else
        status += Format("/フッタNG(%lldByte) ", static_cast<long long>(FooterExcess(w)));
    return status;
}

std::vector<std::string> BuildReport(const WaveInfo& w, const AnalysisResult& result) {
    const std::int16_t cbSize = result.cbSize;
    std::vector<std::string> r;
    r.push_back("WAVEチャンク以降のサイズ: " + GroupThousands(w.riffSize) + "Byte");
    r.push_back(Format("fmtチャンクのサイズ     : %dByte", w.format.fmtSize));
    r.push_back(Format("Format ID               : %X", static_cast<unsigned>(w.format.formatTag)));
    r.push_back(Format("チャンネル数            : %d", static_cast<int>(w.format.channels)));
    r.push_back(Format("サンプリング周波数      : %dHz", w.format.samplesPerSec));
    r.push_back(Format("データ速度              : %dByte/sec", w.format.avgBytesPerSec));
    r.push_back(Format("ブロックサイズ          : %d", static_cast<int>(w.format.blockAlign)));
    r.push_back(Format("ビット解像度            : %dBit", static_cast<int>(w.format.bitsPerSample)));
    r.push_back("データサイズ            : " + GroupThousands(w.dataSize) + "Byte");
    r.push_back("ファイルサイズ          : " + GroupThousands(w.fileSize) + "Byte");
    r.push_back("ヘッダサイズ            : " + GroupThousands(static_cast<std::uint32_t>(w.dataStart())) + "Byte");
    r.push_back("フッタサイズ            : " + GroupThousands(w.listFooterSize) + "Byte");
    r.push_back("fmtチャンク位置         : " + GroupThousands(static_cast<std::uint32_t>(w.fmtChunkPos)));
    r.push_back("dataチャンク位置        : " + GroupThousands(static_cast<std::uint32_t>(w.dataChunkPos)));
    if (w.playTimeKnown)
        r.push_back(Format("再生時間                : %dh %dm %ds %d", w.playHours, w.playMinutes, w.playSeconds,
                           w.playRemainderFrames));
    else
        r.emplace_back("再生時間                : 不明(圧縮形式でfactチャンクがありません)");

    r.push_back(StatusLine(w, result));

    if (w.format.fmtSize > 16 && cbSize > 0 && w.format.formatTag == kFormatExtensible) {
        r.emplace_back();
        r.emplace_back("** 拡張フォーマット **");
        r.push_back(Format("解像度: %dBit マスク: %X Sub FormatID: %X ", static_cast<int>(w.validBits), w.channelMask,
                           static_cast<unsigned>(w.subFormatTag)));
        std::string speakers;
        for (const auto& name : SpeakerNamesOfMask(w.channelMask)) speakers += name + "/";
        r.push_back(speakers);
    }

    if (ChunksWorthShowing(result)) {
        r.emplace_back();
        r.emplace_back("** チャンク一覧 **");
        for (const ChunkEntry& c : result.chunks) {
            std::string line = Format("%-4s 位置: ", c.id.empty() ? "----" : c.id.c_str()) + GroupThousands(c.offset) +
                               " サイズ: " + GroupThousands(c.size) + "Byte";
            const std::string note = ChunkNote(c);
            if (!note.empty()) line += " " + note;
            r.push_back(line);
        }
        if (result.riffOmitsPad)
            r.emplace_back("RIFFサイズが末尾のパッドバイトを数えていません(再生には支障ありません)");
        if (result.searchedFrom)
            r.push_back("チャンクの並びが位置 " + GroupThousands(*result.searchedFrom) +
                        " で途切れているため、fmt/dataは検索で見つけました");
    }
    for (std::string& line : MetadataReportLines(result.metadata)) r.push_back(std::move(line));
    return r;
}

// The chain's entry for `id`, or the byte search from `legacyFrom` when the
// chain broke before reaching one; records where the search started.
std::optional<std::int32_t> LocateChunk(File& file, const std::vector<std::uint8_t>& head, const ChunkTable& table,
                                        AnalysisResult& result, const char* id, std::uint64_t legacyFrom) {
    if (const ChunkEntry* c = table.find(id)) {
        if (c->offset > kMaxChunkPos) return std::nullopt;
        return static_cast<std::int32_t>(c->offset);
    }
    if (!table.brokenAt) return std::nullopt;
    result.searchedFrom = *table.brokenAt;
    return SearchChunkId(file, head, table, legacyFrom, id);
}

// The format block and its extension, from the chunk at info.fmtChunkPos.
void DecodeFormat(File& file, WaveInfo& info, AnalysisResult& result) {
    // Only the chunk's own bytes: whatever follows a short format chunk (the
    // next chunk's header) is no field of it, and reads as zero.
    std::uint8_t fmt[FormatBlock::kSize + FormatExtension::kDecodedSize] = {};
    const auto fmtAtPos = static_cast<std::uint64_t>(info.fmtChunkPos);
    const std::size_t got = file.readAt(fmtAtPos, fmt, sizeof fmt);
    const std::uint32_t fmtBody = GetU32(fmt + 4);
    const std::size_t fmtBytes =
        kChunkHeaderSize + static_cast<std::size_t>(std::min<std::uint32_t>(fmtBody, sizeof fmt - kChunkHeaderSize));
    std::fill(fmt + std::min(fmtBytes, got), fmt + sizeof fmt, std::uint8_t{0});
    result.formatTooShort = fmtBody < kFormatFieldsSize;
    info.format = FormatBlock::Decode(fmt);
    result.cbSize = GetI16(fmt + FormatBlock::kSize);
    if (info.format.fmtSize > 16 && result.cbSize > 0) {
        const FormatExtension extension = FormatExtension::Decode(fmt + FormatBlock::kSize);
        info.validBits = extension.validBits;
        info.channelMask = extension.channelMask;
        info.subFormatTag = extension.subFormat;
        info.extChannelMask = info.channelMask;
    } else {
        info.validBits = 0;
        info.channelMask = 0;
        info.subFormatTag = 0;
        info.extChannelMask = 0;
    }
}

// The data chunk's header at info.dataChunkPos and the true sizes; returns
// the header size (where the samples start).
std::uint32_t DecodeDataHeader(File& file, const std::optional<Ds64>& ds64, WaveInfo& info) {
    std::uint8_t dataHead[DataHeader::kSize] = {};
    file.readAt(static_cast<std::uint64_t>(info.dataChunkPos), dataHead, sizeof dataHead);
    info.setDataHeader(DataHeader::Decode(dataHead));
    const std::uint32_t headerSize = static_cast<std::uint32_t>(info.dataStart());
    const std::uint64_t length = info.fileSize;
    // Sizes past 32 bits: the ds64 ones stand where a 32-bit field says
    // 0xFFFFFFFF; a plain file past 4 GiB whose data runs to its end keeps
    // the true sizes modulo 2^32.
    if (ds64) {
        if (info.riffSize == 0xFFFFFFFFu) info.riffSize = ds64->riffSize;
        if (info.dataSize == 0xFFFFFFFFu) info.dataSize = ds64->dataSize;
    } else if (info.sizesPast32Bits() && length >= headerSize) {
        if (((length - headerSize) & 0xFFFFFFFFull) == info.dataSize) info.dataSize = length - headerSize;
        if ((RiffSizeOfFile(length) & 0xFFFFFFFFull) == info.riffSize) info.riffSize = RiffSizeOfFile(length);
    }
    return headerSize;
}

// The bytes of the format chunk among these tail chunks, when it lies behind
// the data: it belongs to the header, not to the footer.
std::uint32_t FormatInTail(const ChunkTable& tail, const WaveInfo& info, std::uint64_t coveredEnd) {
    for (const ChunkEntry& c : tail.chunks)
        if (c.wellFormed() && c.id == "fmt " && c.offset == static_cast<std::uint64_t>(info.fmtChunkPos) &&
            c.end() <= coveredEnd)
            return static_cast<std::uint32_t>(c.end() - c.offset);
    return 0;
}

// After the samples: the pad byte of odd data belongs to the data chunk;
// then either nothing, or chunks (tags) that end the file, or bytes that
// are neither.
void MeasureTail(File& file, const ChunkEntry* dataChunk, std::uint32_t headerSize, WaveInfo& info,
                 AnalysisResult& result) {
    const std::uint64_t length = info.fileSize;
    const bool fromChain = dataChunk && dataChunk->offset == static_cast<std::uint64_t>(info.dataChunkPos);
    info.dataPad = fromChain && dataChunk->padded && dataChunk->size == info.dataSize ? 1 : 0;
    info.listFooterSize = 0;
    info.formatAfterData = 0;
    const std::uint64_t dataEnd = info.sizesPast32Bits()
                                      ? headerSize + info.dataSize
                                      : std::uint64_t{static_cast<std::uint32_t>(headerSize + info.dataSize)};
    const std::uint64_t tailStart = dataEnd + info.dataPad;
    if (tailStart >= length) return;
    const ChunkTable tail = WalkChunks(file, tailStart, length);
    if (tail.wellFormedFrom(tailStart)) {
        info.formatAfterData = FormatInTail(tail, info, length);
        info.listFooterSize = static_cast<std::uint32_t>(length - tailStart) - info.formatAfterData;
        return;
    }
    std::uint64_t covered = 0;
    for (const ChunkEntry& c : tail.chunks) {
        if (!c.wellFormed()) break;
        covered = c.end() - tailStart;
    }
    const ChunkEntry& first = tail.chunks.front();
    if (covered == 0 && first.id == "LIST")
        // A LIST chunk whose size runs on past the end still counts whole.
        info.listFooterSize = static_cast<std::uint32_t>(first.size) + 8u;
    else {
        info.formatAfterData = FormatInTail(tail, info, tailStart + covered);
        info.listFooterSize = static_cast<std::uint32_t>(covered) - info.formatAfterData;
    }
    // The last bytes of a recording cut inside a frame.
    const std::uint64_t rest = length - tailStart;
    if (covered == 0 && info.listFooterSize == 0 && info.format.blockAlign > 0 &&
        rest < static_cast<std::uint64_t>(info.format.blockAlign))
        result.partialFrame = static_cast<std::uint32_t>(rest);
}

// The frame count of a fact chunk whose count lies within the file.
std::optional<std::uint32_t> FactFrames(File& file, const ChunkTable& table) {
    const ChunkEntry* fact = table.find("fact");
    if (!fact || fact->size < 4 || fact->fault == ChunkFault::PastEnd) return std::nullopt;
    std::uint8_t count[4];
    if (file.readAt(fact->bodyStart(), count, 4) != 4) return std::nullopt;
    return GetU32(count);
}

// The footer, the computed data size and the two size checks. Data that runs
// past the end leaves a negative footer: a RIFF size counting those missing
// bytes does not match the file.
void CheckSizes(std::uint32_t headerSize, WaveInfo& info, AnalysisResult& result) {
    if (info.sizesPast32Bits()) {
        info.footerSize = static_cast<std::int64_t>(info.fileSize - headerSize - info.dataSize - info.dataPad);
        info.computedDataSize =
            info.fileSize - (static_cast<std::uint64_t>(info.footerSize) + info.dataPad + headerSize);
        if (info.listFooterSize == 0)
            info.riffSizeExcess = static_cast<std::int64_t>(info.riffSize + 8u - info.fileSize);
        result.fileSizeOK =
            info.riffSize + 8u == info.fileSize ||
            (info.footerSize >= 0 && info.riffSize + 8u == info.fileSize - static_cast<std::uint64_t>(info.footerSize));
        result.footerOK = info.footerSize == std::int64_t{info.listFooterSize} + info.formatAfterData;
    } else {
        // Within 32 bits every sum wraps as the fields do.
        const auto fileSize = static_cast<std::uint32_t>(info.fileSize);
        const auto riffSize = static_cast<std::uint32_t>(info.riffSize);
        const auto dataSize = static_cast<std::uint32_t>(info.dataSize);
        const auto footerSize = static_cast<std::int32_t>(fileSize - headerSize - dataSize - info.dataPad);
        info.footerSize = footerSize;
        info.computedDataSize = fileSize - (static_cast<std::uint32_t>(footerSize) + info.dataPad + headerSize);
        if (info.listFooterSize == 0) info.riffSizeExcess = static_cast<std::int32_t>(riffSize + 8u - fileSize);
        result.fileSizeOK = riffSize + 8u == fileSize ||
                            (footerSize >= 0 && riffSize + 8u == fileSize - static_cast<std::uint32_t>(footerSize));
        result.footerOK = static_cast<std::uint32_t>(footerSize) == info.listFooterSize + info.formatAfterData;
    }
    if (result.partialFrame != 0 && info.footerSize == std::int64_t{result.partialFrame}) result.footerOK = true;
}

// Whether the data size holds, judged by the bytes that follow the data
// chunk's header.
void JudgeDataSize(const ChunkTable& table, const WaveInfo& info, AnalysisResult& result) {
    const auto at = static_cast<std::uint64_t>(info.dataChunkPos);
    for (const ChunkEntry& c : table.chunks)
        if (c.id == "data" && c.offset == at && c.extent && (info.dataSize == 0 || info.dataSize == 0xFFFFFFFFu)) {
            result.dataState = DataSizeState::Unfinalized;
            return;
        }
    const std::uint64_t end = info.dataStart() + info.dataSize;
    if (end > info.fileSize) {
        result.dataState = DataSizeState::PastEnd;
        result.dataMissing = end - info.fileSize;
    }
}

// Writers that count an odd chunk without its pad byte leave a RIFF size one
// short of a file that ends in that pad byte.
void AcceptOmittedPad(const WaveInfo& info, AnalysisResult& result) {
    if (result.fileSizeOK || result.chunks.empty()) return;
    const ChunkEntry& last = result.chunks.back();
    if (last.padded && last.end() == info.fileSize && info.riffSize + 9 == info.fileSize) {
        result.fileSizeOK = true;
        result.riffOmitsPad = true;
    }
}

// The descriptive chunks, with positions checked against the frames the
// data really holds (its size, or what of it is in the file).
Metadata FileMetadata(File& file, const ChunkTable& table, std::optional<std::uint32_t> factFrames,
                      const WaveInfo& info) {
    MetadataContext context;
    context.samplesPerSec = info.format.samplesPerSec;
    const std::uint64_t present = info.fileSize > info.dataStart() ? info.fileSize - info.dataStart() : 0;
    if (IsCompressedFormat(info) && !IsOneBytePerSample(info) && factFrames)
        context.frames = *factFrames;
    else if (info.format.blockAlign > 0)
        context.frames = std::min(info.dataSize, present) / static_cast<std::uint64_t>(info.format.blockAlign);
    return ReadMetadata(file, table.chunks, context);
}

// The play time; false, with the stop recorded, when a frame size or rate
// of 0 leaves none.
bool SetPlayTime(std::optional<std::uint32_t> factFrames, WaveInfo& info, AnalysisResult& result) {
    try {
        // Blocks of compressed samples are no frames: their count comes from
        // the fact chunk, and without it the length is unknown.
        PlayTime t = ComputePlayTime(info.dataSize, info.format.blockAlign, info.format.samplesPerSec);
        info.playTimeKnown = true;
        if (IsCompressedFormat(info) && !IsOneBytePerSample(info)) {
            if (factFrames)
                t = PlayTimeOfFrames(*factFrames, info.format.samplesPerSec);
            else {
                t = PlayTime{};
                info.playTimeKnown = false;
            }
        }
        info.playHours = t.hours;
        info.playMinutes = t.minutes;
        info.playSeconds = t.seconds;
        info.playRemainderFrames = t.remainderFrames;
    } catch (const VelmoraError& e) {
        result.stop = AnalysisStop::DivisionByZero;
        result.failure = e.what();
        // A stored rate of 0 is what the rate rewrite mends; nothing else
        // can trust this header.
        if (info.format.samplesPerSec == 0 && !result.formatTooShort) info.rateRewriteOnly = true;
        return false;
    }
    return true;
}

}  // namespace

PlayTime PlayTimeOfFrames(std::int64_t frames, std::int32_t samplesPerSec) {
    if (samplesPerSec == 0) throw VelmoraError(kTextDivByZero);
    const std::int64_t rem = frames % samplesPerSec;
    std::int64_t seconds = (frames - rem) / samplesPerSec;
    PlayTime t;
    t.remainderFrames = static_cast<std::int32_t>(rem);
    t.hours = static_cast<std::int32_t>(seconds / 3600);
    if (t.hours > 0) seconds %= 3600;
    t.minutes = static_cast<std::int32_t>(seconds / 60);
    t.seconds = static_cast<std::int32_t>(t.minutes > 0 ? seconds % 60 : seconds);
    return t;
}

PlayTime ComputePlayTime(std::uint64_t dataSize, std::int16_t blockAlign, std::int32_t samplesPerSec) {
    if (blockAlign == 0 || samplesPerSec == 0) throw VelmoraError(kTextDivByZero);
    if (dataSize > 0xFFFFFFFFull) {
        // Past 32 bits the frames are counted in 64; the hours still fit.
        const std::uint64_t magnitude = dataSize / static_cast<std::uint64_t>(std::abs(int{blockAlign}));
        return PlayTimeOfFrames(static_cast<std::int64_t>(magnitude) * (blockAlign < 0 ? -1 : 1), samplesPerSec);
    }
    // The quotient fits 64 bits; the frame count keeps its low 32 bits, so a
    // count of 2^31 or more wraps instead of being undefined.
    double quotient = static_cast<double>(dataSize) / static_cast<double>(blockAlign);
    auto frames64 = static_cast<std::int64_t>(std::trunc(quotient));
    auto frames = static_cast<std::int32_t>(static_cast<std::uint32_t>(frames64));
    std::int64_t rem = static_cast<std::int64_t>(frames) % samplesPerSec;
    auto seconds = static_cast<std::int32_t>(
        static_cast<std::uint32_t>((static_cast<std::int64_t>(frames) - rem) / samplesPerSec));
    PlayTime t;
    t.remainderFrames = static_cast<std::int32_t>(rem);
    t.hours = seconds / 3600;
    if (t.hours > 0) seconds %= 3600;
    t.minutes = seconds / 60;
    t.seconds = t.minutes > 0 ? seconds % 60 : seconds;
    return t;
}

std::vector<std::string> HexDumpLines(const std::uint8_t* bytes, std::size_t count) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < count; ++i) {
        line += Format(" %.2X", static_cast<unsigned>(bytes[i]));
        if (i % 16 == 15 || i + 1 == count) {
            lines.push_back(Format("%.4zX:", i - i % 16) + line);
            line.clear();
        }
    }
    return lines;
}

AnalysisResult AnalyzeWave(const std::string& path, WaveInfo& info) {
    // A repair killed between its fields is taken back before anything reads them.
    const bool undone = UndoInterruptedPatch(path);
    File file = File::OpenRead(path);
    AnalysisResult result;
    if (undone) result.messages.emplace_back(kTextPatchUndone);
    info.analyzedPath = path;
    info.analysisComplete = false;
    info.rateRewriteOnly = false;

    const FileIdentity identity = file.identity();
    info.fileDevice = identity.device;
    info.fileInode = identity.inode;
    info.fileModifiedNs = identity.modifiedNs;
    const std::uint64_t length = identity.length;
    result.fileLength = length;
    std::vector<std::uint8_t> head(kHeadBytes, 0);  // past the end reads as zero
    file.readAt(0, head.data(), head.size());

    info.setRiffHeader(RiffHeader::Decode(head.data()));
    const std::optional<Ds64> ds64 = ReadDs64(head.data(), head.size());
    info.rf64 = ds64.has_value();
    if (!MatchChunkId(head.data(), "RIFF") && !ds64) {
        result.stop = AnalysisStop::NoRiff;
        result.messages.emplace_back("RIFFチャンクがありません\r\n中断します");
        return result;
    }

    // The chain of chunks says where "fmt " and "data" are; the byte search
    // is for a chain that breaks before both are found.
    const ChunkTable table = WalkChunks(file, kFirstChunkAt, length, {ds64, 0});
    result.chunks = table.chunks;

    const std::optional<std::int32_t> fmtAt = LocateChunk(file, head, table, result, "fmt ", kFirstChunkAt);
    info.fmtChunkPos = fmtAt.value_or(kSearchLimit + 1);
    if (!fmtAt) {
        result.stop = AnalysisStop::NoFmt;
        result.messages.emplace_back("fmtチャンクが見つかりません。\r\n処理を中断します。");
        return result;
    }
    DecodeFormat(file, info, result);
    info.fileSize = length;

    const std::optional<std::int32_t> dataAt = LocateChunk(file, head, table, result, "data", kPlainDataChunkAt);
    info.dataChunkPos = dataAt.value_or(kSearchLimit + 1);
    if (!dataAt) {
        result.stop = AnalysisStop::NoData;
        result.messages.emplace_back("dataチャンクが見つかりません。\r\n処理を中断します。");
        return result;
    }
    const std::uint32_t headerSize = DecodeDataHeader(file, ds64, info);
    result.headerSize = headerSize;
    MeasureTail(file, table.find("data"), headerSize, info, result);
    const std::optional<std::uint32_t> factFrames = FactFrames(file, table);
    result.metadata = FileMetadata(file, table, factFrames, info);

    result.hexDump = HexDumpLines(head.data(), std::min<std::size_t>(headerSize, kHexDumpCap));
    file.close();

    CheckSizes(headerSize, info, result);
    AcceptOmittedPad(info, result);
    JudgeDataSize(table, info, result);
    if (!SetPlayTime(factFrames, info, result)) return result;

    if (!IsIntegerPcm(info))
        result.messages.emplace_back("フォーマットIDが無圧縮WAV以外ですので、\r\nヘッダ内容の正確さを保証できません");
    result.report = BuildReport(info, result);
    info.analysisComplete = true;
    return result;
}

}  // namespace velmora
