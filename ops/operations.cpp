#include "ops/operations.h"

#include "ops/records.h"
#include "ops/rules.h"

#include <algorithm>
#include <cstdint>

#include "ops/second_blocks.h"
#include "ops/source_checks.h"
#include "ops/split.h"
#include "wav/error.h"
#include "wav/header.h"
#include "wav/sample_format.h"

namespace velmora {

namespace {

struct Why {
    Reason code;
    const char* text;
};
constexpr Why kWhyCompressed{Reason::Compressed, "圧縮形式のためサンプルを扱えません"};
constexpr Why kWhyFooter{Reason::TagFooter, "先にタグフッタを削除してください"};
constexpr Why kWhyFileSize{Reason::RiffSizeWrong, "ヘッダのRIFFサイズがファイルの長さと合っていません"};
constexpr Why kWhyTail{Reason::TailNotChunks, "データの後ろにチャンクではないバイトがあります"};
constexpr Why kWhyMono{Reason::MonoFile, "モノラルのため分離するチャンネルがありません"};
constexpr Why kWhyResolution{Reason::Resolution, "このビット解像度・形式には対応していません"};
constexpr Why kWhyStereoOnly{Reason::StereoOnly, "ステレオのファイルにのみ使えます"};
constexpr Why kWhyRebuild16{Reason::NotStereo16, "16ビットステレオのファイルにのみ使えます"};
constexpr Why kWhyPlainFmt{Reason::PlainFormat, "fmtチャンクは既に標準の形です"};
constexpr Why kWhyNoFooter{Reason::NoFooter, "タグフッタがありません"};
constexpr Why kWhyRiffOK{Reason::RiffSizeRight, "RIFFサイズは正しい値です"};
constexpr Why kWhyDataOK{Reason::DataSizeRight, "データサイズは正常です"};
constexpr Why kWhyDataNotInChain{Reason::DataNotInChain, "dataチャンクがチャンクの並びの中にないため修復できません"};
constexpr Why kWhyLayout{Reason::FrameLayout, "フレームの大きさがチャンネル数と解像度に合っていません"};
constexpr Why kWhyShortFmt{Reason::FormatTooShort, kTextFormatTooShort};
constexpr Why kWhyOverlap{Reason::ChunksOverlap, kTextChunksOverlap};
constexpr Why kWhyBadLayout{Reason::UnusableLayout, kTextBadLayout};
constexpr Why kWhyUnknownLayout{Reason::UnknownLayout, kTextUnknownLayout};
constexpr Why kWhyDataFirst{
    Reason::DataSizeFirst,
    "データサイズも正しくないため、RIFFサイズと両方を設定するデータサイズ修復(recover)を使ってください"};
constexpr Why kWhyTooManyChannels{Reason::TooManyChannels, "9チャンネル以上のファイルは測定できません"};
constexpr const char* kTextNoRule = "この操作にはまだ対象となるファイルの決まりがありません";

std::optional<Refusal> Refuse(const Why& why) { return Refusal{why.code, why.text}; }

bool Stereo16(const WaveInfo& w) { return w.format.bitsPerSample == 16 && w.format.channels == 2; }
// Samples wider than 16 bits, or float, that the transforms walk sample by
// sample; 8- and 16-bit files keep the rules they always had.
bool Wide(const WaveInfo& w) {
    const std::optional<SampleFormat> format = TransformSampleFormat(w);
    return format && format->wide();
}
bool WideFloat(const WaveInfo& w) {
    const std::optional<SampleFormat> format = TransformSampleFormat(w);
    return format && format->wide() && format->isFloat();
}

}  // namespace

namespace rules {

Refusal First(const WaveInfo& w, const AnalysisResult& result, std::initializer_list<Check> checks) {
    for (Check check : checks)
        if (std::optional<Refusal> r = check(w, result)) return *r;
    return {};
}

// Fields a short format chunk lacks are no fields: nothing may read or write
// them. The RIFF size lies outside it.
std::optional<Refusal> ShortFormat(const WaveInfo&, const AnalysisResult& result) {
    return result.formatTooShort ? Refuse(kWhyShortFmt) : std::nullopt;
}
std::optional<Refusal> Compressed(const WaveInfo& w, const AnalysisResult&) {
    return IsCompressedFormat(w) ? Refuse(kWhyCompressed) : std::nullopt;
}
std::optional<Refusal> NotStereo16(const WaveInfo& w, const AnalysisResult&) {
    return Stereo16(w) ? std::nullopt : Refuse(kWhyRebuild16);
}
std::optional<Refusal> PlainFormat(const WaveInfo& w, const AnalysisResult&) {
    return w.format.fmtSize == 16 && w.fmtChunkPos == 12 ? Refuse(kWhyPlainFmt) : std::nullopt;
}
std::optional<Refusal> NotStereoWalkable(const WaveInfo& w, const AnalysisResult&) {
    if (Stereo16(w) || (Wide(w) && w.format.channels == 2)) return std::nullopt;
    return Refuse(w.format.channels != 2 ? kWhyStereoOnly : kWhyResolution);
}
std::optional<Refusal> Mono(const WaveInfo& w, const AnalysisResult&) {
    return w.format.channels == 1 ? Refuse(kWhyMono) : std::nullopt;
}
std::optional<Refusal> NarrowOnly(const WaveInfo& w, const AnalysisResult&) {
    return w.format.bitsPerSample > 16 && !Wide(w) ? Refuse(kWhyResolution) : std::nullopt;
}
std::optional<Refusal> NotInteger(const WaveInfo& w, const AnalysisResult&) {
    return IsIntegerPcm(w) ? std::nullopt : Refuse(kWhyResolution);
}
std::optional<Refusal> NotWalkable(const WaveInfo& w, const AnalysisResult&) {
    return IsIntegerPcm(w) || WideFloat(w) ? std::nullopt : Refuse(kWhyResolution);
}
// A sample format the transforms read sample by sample (not 12 bits in 16, say).
std::optional<Refusal> NotSampleFormat(const WaveInfo& w, const AnalysisResult&) {
    return TransformSampleFormat(w) ? std::nullopt : Refuse(kWhyResolution);
}
std::optional<Refusal> MoreThanEightChannels(const WaveInfo& w, const AnalysisResult&) {
    return w.format.channels > 8 ? Refuse(kWhyTooManyChannels) : std::nullopt;
}
// A rate, frame size or channel count of 0 or less, a play time past 31 bits.
std::optional<Refusal> BadFrames(const WaveInfo& w, const AnalysisResult&) {
    if (w.format.samplesPerSec <= 0 || w.format.blockAlign <= 0 || w.format.channels <= 0 || w.totalSeconds() < 0 ||
        w.playRemainderFrames < 0 || w.playRemainderFrames >= w.format.samplesPerSec)
        return Refuse(kWhyBadLayout);
    return std::nullopt;
}
// Split names every channel after its speaker: offered only where it would run.
std::optional<Refusal> UnknownLayout(const WaveInfo& w, const AnalysisResult&) {
    if (w.format.channels <= 1) return std::nullopt;
    try {
        SplitSpeakerNames(w.extChannelMask, w.format.channels);
    } catch (const VelmoraError&) {
        return Refuse(kWhyUnknownLayout);
    }
    return std::nullopt;
}
// A frame that is not one sample container per channel cannot be walked.
std::optional<Refusal> FrameLayout(const WaveInfo& w, const AnalysisResult&) {
    const int sampleBytes = (w.format.bitsPerSample + 7) / 8;
    if (w.format.bitsPerSample <= 0 || w.format.blockAlign != w.format.channels * sampleBytes)
        return Refuse(kWhyLayout);
    return std::nullopt;
}

std::optional<Refusal> Footer(const WaveInfo& w, const AnalysisResult&) {
    return w.listFooterSize != 0 ? Refuse(kWhyFooter) : std::nullopt;
}
std::optional<Refusal> NoFooter(const WaveInfo& w, const AnalysisResult&) {
    return w.listFooterSize == 0 ? Refuse(kWhyNoFooter) : std::nullopt;
}
std::optional<Refusal> FileSizeWrong(const WaveInfo&, const AnalysisResult& result) {
    return result.fileSizeOK ? std::nullopt : Refuse(kWhyFileSize);
}
std::optional<Refusal> TailNotChunks(const WaveInfo&, const AnalysisResult& result) {
    return result.footerOK ? std::nullopt : Refuse(kWhyTail);
}
// A RIFF size that leaves out only the final pad byte passes the check, yet
// the patch may still count it.
std::optional<Refusal> RiffSizeRight(const WaveInfo&, const AnalysisResult& result) {
    return result.fileSizeOK && !result.riffOmitsPad ? Refuse(kWhyRiffOK) : std::nullopt;
}
// Patching the RIFF size alone would leave a half-mended file, where the
// recovery sets both sizes.
std::optional<Refusal> DataSizeWrong(const WaveInfo& w, const AnalysisResult& result) {
    if (result.dataState == DataSizeState::Sound || RuleVerdict(Operation::Recover, w, result).code != Reason::None)
        return std::nullopt;
    return Refuse(kWhyDataFirst);
}

// A recorder that stopped before finalizing leaves 0 or 0xFFFFFFFF, or a size
// it reserved and never filled; the chunk walk marks such a data chunk with
// the bytes that really follow it.
std::optional<Refusal> DataSizeSound(const WaveInfo& w, const AnalysisResult& result) {
    const auto data = std::find_if(result.chunks.begin(), result.chunks.end(), [&w](const ChunkEntry& c) {
        return c.id == "data" && c.offset == static_cast<std::uint64_t>(w.dataChunkPos);
    });
    if (data == result.chunks.end()) return Refuse(kWhyDataNotInChain);
    if (!data->extent) return Refuse(kWhyDataOK);
    // The sizes a recovery would write are there already (a data chunk of
    // less than a frame, recovered once to 0).
    const auto align = static_cast<std::uint64_t>(std::max<int>(w.format.blockAlign, 1));
    if (data->size == *data->extent / align * align && w.riffSize == RiffSizeOfFile(w.fileSize))
        return Refuse(kWhyDataOK);
    return std::nullopt;
}

// A format chunk found by the byte search may hold the "data" id the search
// found next, or lie inside the data: a patch of one would write into the
// other.
std::optional<Refusal> RateOverlapsData(const WaveInfo& w, const AnalysisResult&) {
    const auto fmtAt = static_cast<std::uint64_t>(w.fmtChunkPos);
    const auto dataAt = static_cast<std::uint64_t>(w.dataChunkPos);
    return ChunksOverlap(fmtAt, fmtAt + FormatBlock::kSize, dataAt, w.dataStart() + w.dataSize) ? Refuse(kWhyOverlap)
                                                                                                : std::nullopt;
}
std::optional<Refusal> SizesOverlap(const WaveInfo& w, const AnalysisResult&) {
    const auto fmtAt = static_cast<std::uint64_t>(w.fmtChunkPos);
    const auto dataAt = static_cast<std::uint64_t>(w.dataChunkPos);
    return ChunksOverlap(fmtAt, FormatFieldsEnd(w), dataAt, w.dataStart()) ? Refuse(kWhyOverlap) : std::nullopt;
}

Refusal StereoTransform(const WaveInfo& w, const AnalysisResult& result) {
    return First(w, result,
                 {ShortFormat, Compressed, NotStereoWalkable, NotWalkable, BadFrames, FrameLayout, Footer,
                  FileSizeWrong, TailNotChunks});
}

Refusal TakesAnyFile(const WaveInfo&, const AnalysisResult&) { return {}; }

}  // namespace rules

namespace {

Reason StopCode(AnalysisStop stop) {
    switch (stop) {
        case AnalysisStop::NoRiff: return Reason::NoRiff;
        case AnalysisStop::NoFmt: return Reason::NoFormat;
        case AnalysisStop::NoData: return Reason::NoData;
        default: return Reason::ZeroDivision;
    }
}

// The first line of what the analysis said when it stopped.
std::string StopReason(const AnalysisResult& result) {
    std::string text = result.failure            ? *result.failure
                       : result.messages.empty() ? std::string{}
                                                 : result.messages.back();
    if (const auto cut = text.find('\r'); cut != std::string::npos) text.resize(cut);
    if (const auto cut = text.find('\n'); cut != std::string::npos) text.resize(cut);
    return text.empty() ? std::string{kTextNotAnalysed} : text;
}

}  // namespace

std::vector<std::pair<Reason, const char*>> ReasonTexts() {
    std::vector<std::pair<Reason, const char*>> texts;
    for (const Why& w : {kWhyCompressed, kWhyFooter,     kWhyFileSize,       kWhyTail,      kWhyMono,
                         kWhyResolution, kWhyStereoOnly, kWhyRebuild16,      kWhyPlainFmt,  kWhyNoFooter,
                         kWhyRiffOK,     kWhyDataOK,     kWhyDataNotInChain, kWhyLayout,    kWhyShortFmt,
                         kWhyOverlap,    kWhyBadLayout,  kWhyUnknownLayout,  kWhyDataFirst, kWhyTooManyChannels})
        texts.emplace_back(w.code, w.text);
    texts.emplace_back(Reason::NoRule, kTextNoRule);
    return texts;
}

const char* ReasonId(Reason reason) {
    switch (reason) {
        case Reason::None: return "";
        case Reason::NoRiff: return "no-riff";
        case Reason::NoFormat: return "no-fmt";
        case Reason::NoData: return "no-data";
        case Reason::ZeroDivision: return "zero-division";
        case Reason::Compressed: return "compressed";
        case Reason::TagFooter: return "tag-footer";
        case Reason::RiffSizeWrong: return "riff-size-wrong";
        case Reason::TailNotChunks: return "tail-not-chunks";
        case Reason::MonoFile: return "mono-file";
        case Reason::Resolution: return "resolution";
        case Reason::StereoOnly: return "stereo-only";
        case Reason::NotStereo16: return "not-16bit-stereo";
        case Reason::PlainFormat: return "plain-fmt";
        case Reason::NoFooter: return "no-footer";
        case Reason::RiffSizeRight: return "riff-size-right";
        case Reason::DataSizeRight: return "data-size-right";
        case Reason::DataNotInChain: return "data-not-in-chain";
        case Reason::FrameLayout: return "frame-layout";
        case Reason::FormatTooShort: return "short-fmt";
        case Reason::ChunksOverlap: return "chunks-overlap";
        case Reason::UnusableLayout: return "unusable-layout";
        case Reason::UnknownLayout: return "unknown-layout";
        case Reason::DataSizeFirst: return "data-size-first";
        case Reason::TooManyChannels: return "too-many-channels";
        case Reason::NoRule: return "no-rule";
    }
    return "";
}

Refusal RuleVerdict(Operation op, const WaveInfo& info, const AnalysisResult& result) {
    const OperationRecord& record = RecordOf(op);
    if (record.rule == nullptr) return {Reason::NoRule, kTextNoRule};
    return record.rule(info, result);
}

OperationReasons WhyNotOffered(const WaveInfo& info, const AnalysisResult& result) {
    if (result.complete()) {
        OperationReasons reasons;
        for (Operation op : kAllOperations) reasons[static_cast<std::size_t>(op)] = RuleVerdict(op, info, result);
        return reasons;
    }
    OperationReasons reasons;
    const Refusal why = result.formatTooShort ? Refusal{kWhyShortFmt.code, kWhyShortFmt.text}
                                              : Refusal{StopCode(result.stop), StopReason(result)};
    for (Operation op : kAllOperations)
        if (!(info.rateRewriteOnly && op == Operation::SetRate)) reasons[static_cast<std::size_t>(op)] = why;
    return reasons;
}

std::optional<OperationSet> AllowedOperations(const WaveInfo& info, const AnalysisResult& result) {
    if (result.complete()) {
        const OperationReasons reasons = WhyNotOffered(info, result);
        OperationSet s;
        for (Operation op : kAllOperations)
            if (reasons[static_cast<std::size_t>(op)].code == Reason::None) s.insert(op);
        return s;
    }
    if (info.rateRewriteOnly) return OperationSet{Operation::SetRate};
    return std::nullopt;
}

}  // namespace velmora
