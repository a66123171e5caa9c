#include "wav/analysis.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/file.h"
#include "wav/rf64.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The chunk searches look at offsets up to 2048; the format block, cbSize and
// the extension behind a format chunk found at 2048 reach 34 bytes further.
constexpr std::int32_t kSearchLimit = 2048;
constexpr std::size_t kHeadBytes = kSearchLimit + 34;

std::int32_t FindChunk(const std::vector<std::uint8_t>& head, std::int32_t from, const char* id) {
    for (std::int32_t p = from; p <= kSearchLimit; ++p)
        if (MatchChunkId(head.data() + p, id)) return p;
    return kSearchLimit + 1;
}

// Bytes after the data beyond the LIST footer; 32-bit as the fields for a
// file that fits them.
std::int64_t FooterExcess(const WaveInfo& w) {
    if (w.fileSize > 0xFFFFFFFFull || w.rf64) return w.footerSize - std::int64_t{w.listFooterSize};
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w.footerSize) - w.listFooterSize);
}

std::vector<std::string> BuildReport(const WaveInfo& w, bool fileSizeOK, bool footerOK,
                                     std::int16_t cbSize) {
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
    r.push_back("ヘッダサイズ            : " +
                GroupThousands(static_cast<std::uint32_t>(w.dataChunkPos) + 8u) + "Byte");
    r.push_back("フッタサイズ            : " + GroupThousands(w.listFooterSize) + "Byte");
    r.push_back("fmtチャンク位置         : " + GroupThousands(static_cast<std::uint32_t>(w.fmtChunkPos)));
    r.push_back("dataチャンク位置        : " + GroupThousands(static_cast<std::uint32_t>(w.dataChunkPos)));
    r.push_back(Format("再生時間                : %dh %dm %ds %d", w.playHours, w.playMinutes,
                       w.playSeconds, w.playRemainderFrames));

    std::string status;
    if (fileSizeOK)
        status = "ファイルサイズ OK";
    else if (w.footerSize == 0)
        status = Format("ファイルサイズ NG (+%lldByte) ", static_cast<long long>(w.riffSizeExcess));
    else
        status = "ファイルサイズ NG";
    status += "/データサイズ OK";
    if (footerOK)
        status += "/フッタ OK";
    else
        status += Format("/フッタNG(%lldByte) ", static_cast<long long>(FooterExcess(w)));
    r.push_back(status);

    if (w.format.fmtSize > 16 && cbSize > 0 && w.format.formatTag == kFormatExtensible) {
        r.emplace_back();
        r.emplace_back("** 拡張フォーマット **");
        r.push_back(Format("解像度: %dBit マスク: %X Sub FormatID: %X ", static_cast<int>(w.validBits),
                           w.channelMask, static_cast<unsigned>(w.subFormatTag)));
        std::string speakers;
        for (const auto& name : SpeakerNamesOfMask(w.channelMask)) speakers += name + "/";
        r.push_back(speakers);
    }
    return r;
}

}  // namespace

bool MatchChunkId(const std::uint8_t* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

PlayTime ComputePlayTime(std::uint64_t dataSize, std::int16_t blockAlign, std::int32_t samplesPerSec) {
    if (blockAlign == 0 || samplesPerSec == 0) throw VelmoraError(kTextDivByZero);
    if (dataSize > 0xFFFFFFFFull) {
        // Past 32 bits the frames are counted in 64; the hours still fit.
        const std::uint64_t magnitude = dataSize / static_cast<std::uint64_t>(std::abs(int{blockAlign}));
        const auto frames = static_cast<std::int64_t>(magnitude) * (blockAlign < 0 ? -1 : 1);
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
    File file = File::OpenRead(path);
    AnalysisResult result;
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

    info.fmtChunkPos = FindChunk(head, kFirstChunkAt, "fmt ");
    if (info.fmtChunkPos > kSearchLimit) {
        result.stop = AnalysisStop::NoFmt;
        result.messages.emplace_back("fmtチャンクが見つかりません。\r\n処理を中断します。");
        return result;
    }
    const std::uint8_t* fmt = head.data() + info.fmtChunkPos;
    info.format = FormatBlock::Decode(fmt);
    result.cbSize = GetI16(fmt + FormatBlock::kSize);
    if (info.format.fmtSize > 16 && result.cbSize > 0) {
        info.validBits = GetU16(fmt + 26);
        info.channelMask = GetU32(fmt + 28);
        info.subFormatTag = GetU16(fmt + 32);
        info.extChannelMask = info.channelMask;
    } else {
        info.validBits = 0;
        info.channelMask = 0;
        info.subFormatTag = 0;
        info.extChannelMask = 0;
    }

    info.fileSize = length;

    info.dataChunkPos = FindChunk(head, kPlainDataChunkAt, "data");
    if (info.dataChunkPos > kSearchLimit) {
        result.stop = AnalysisStop::NoData;
        result.messages.emplace_back("dataチャンクが見つかりません。\r\n処理を中断します。");
        return result;
    }
    info.setDataHeader(DataHeader::Decode(head.data() + info.dataChunkPos));
    const std::uint32_t headerSize = static_cast<std::uint32_t>(info.dataChunkPos) + DataHeader::kSize;
    result.headerSize = headerSize;
    // Sizes past 32 bits: the ds64 ones stand where a 32-bit field says
    // 0xFFFFFFFF; a plain file past 4 GiB whose data runs to its end keeps
    // the true sizes modulo 2^32.
    const bool wide = info.rf64 || length > 0xFFFFFFFFull;
    if (ds64) {
        if (info.riffSize == 0xFFFFFFFFu) info.riffSize = ds64->riffSize;
        if (info.dataSize == 0xFFFFFFFFu) info.dataSize = ds64->dataSize;
    } else if (wide && length >= headerSize) {
        if (((length - headerSize) & 0xFFFFFFFFull) == info.dataSize) info.dataSize = length - headerSize;
        if (((length - 8) & 0xFFFFFFFFull) == info.riffSize) info.riffSize = length - 8;
    }

    info.listFooterSize = 0;
    const std::uint64_t dataEnd = wide ? headerSize + info.dataSize
                                       : std::uint64_t{static_cast<std::uint32_t>(headerSize + info.dataSize)};
    if (info.fileSize != dataEnd) {
        std::uint8_t tail[8] = {};
        if (dataEnd < length) file.readAt(dataEnd, tail, sizeof tail);
        if (MatchChunkId(tail, "LIST")) info.listFooterSize = GetU32(tail + 4) + 8u;
    }

    result.hexDump = HexDumpLines(head.data(), headerSize);
    file.close();

    if (wide) {
        info.footerSize = static_cast<std::int64_t>(info.fileSize - headerSize - info.dataSize);
        info.computedDataSize = info.fileSize - (static_cast<std::uint64_t>(info.footerSize) + headerSize);
        if (info.listFooterSize == 0) info.riffSizeExcess = static_cast<std::int64_t>(info.riffSize + 8u - info.fileSize);
        result.fileSizeOK = info.riffSize + 8u == info.fileSize ||
                            info.riffSize + 8u == info.fileSize - static_cast<std::uint64_t>(info.footerSize);
        result.footerOK = info.footerSize == std::int64_t{info.listFooterSize};
    } else {
        // Within 32 bits every sum wraps as the fields do.
        const auto fileSize = static_cast<std::uint32_t>(info.fileSize);
        const auto riffSize = static_cast<std::uint32_t>(info.riffSize);
        const auto dataSize = static_cast<std::uint32_t>(info.dataSize);
        const auto footerSize = static_cast<std::int32_t>(fileSize - headerSize - dataSize);
        info.footerSize = footerSize;
        info.computedDataSize = fileSize - (static_cast<std::uint32_t>(footerSize) + headerSize);
        if (info.listFooterSize == 0) info.riffSizeExcess = static_cast<std::int32_t>(riffSize + 8u - fileSize);
        result.fileSizeOK =
            riffSize + 8u == fileSize || riffSize + 8u == fileSize - static_cast<std::uint32_t>(footerSize);
        result.footerOK = static_cast<std::uint32_t>(footerSize) == info.listFooterSize;
    }

    try {
        PlayTime t = ComputePlayTime(info.dataSize, info.format.blockAlign, info.format.samplesPerSec);
        info.playHours = t.hours;
        info.playMinutes = t.minutes;
        info.playSeconds = t.seconds;
        info.playRemainderFrames = t.remainderFrames;
    } catch (const VelmoraError& e) {
        result.stop = AnalysisStop::DivisionByZero;
        result.failure = e.what();
        // A stored rate of 0 is what the rate rewrite mends; nothing else
        // can trust this header.
        if (info.format.samplesPerSec == 0) info.rateRewriteOnly = true;
        return result;
    }

    if (!IsIntegerPcm(info))
        result.messages.emplace_back(
            "フォーマットIDが無圧縮WAV以外ですので、\r\nヘッダ内容の正確さを保証できません");
    result.report = BuildReport(info, result.fileSizeOK, result.footerOK, result.cbSize);
    info.analysisComplete = true;
    return result;
}

}  // namespace velmora
