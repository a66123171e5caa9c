#include "ops/operations.h"

#include <algorithm>
#include <cstdint>

#include "ops/second_blocks.h"
#include "ops/source_checks.h"
#include "ops/split.h"
#include "wav/error.h"
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

class Verdict {
public:
    // The first reason given stays: it is the one the user meets first.
    void refuse(Operation op, const Why& why) {
        Refusal& r = reasons_[static_cast<std::size_t>(op)];
        if (r.code == Reason::None) r = {why.code, why.text};
    }
    OperationReasons reasons() const { return reasons_; }

private:
    OperationReasons reasons_;
};

// What the samples and their layout allow: the transforms take integer PCM
// of 8 or 16 bits, and wider or float samples only where they walk them.
void SampleRules(const WaveInfo& w, const AnalysisResult& result, Verdict& v) {
    using enum Operation;
    // Samples wider than 16 bits, or float, that the transforms walk sample by
    // sample; 8- and 16-bit files keep the rules they always had.
    const std::optional<SampleFormat> format = TransformSampleFormat(w);
    const bool wide = format && format->wide();
    const bool stereo16 = w.format.bitsPerSample == 16 && w.format.channels == 2;
    // Fields a short format chunk lacks are no fields: nothing may read or
    // write them. The RIFF size lies outside it.
    if (result.formatTooShort)
        for (Operation op : kAllOperations)
            if (op != FixRiffSize) v.refuse(op, kWhyShortFmt);
    if (IsCompressedFormat(w))
        for (Operation op : {Split, Surround, Normalize, RebuildHeader, Multiplex}) v.refuse(op, kWhyCompressed);

    if (!stereo16) v.refuse(RebuildHeader, kWhyRebuild16);
    if (w.format.fmtSize != 18 && w.fmtChunkPos == 12) v.refuse(RebuildHeader, kWhyPlainFmt);
    if (!stereo16 && !(wide && w.format.channels == 2)) {
        const Why& why = w.format.channels != 2 ? kWhyStereoOnly : kWhyResolution;
        v.refuse(Surround, why);
        v.refuse(Normalize, why);
    }
    if (w.format.channels == 1) v.refuse(Split, kWhyMono);
    if (w.format.bitsPerSample > 16 && !wide) {
        v.refuse(Split, kWhyResolution);
        v.refuse(Multiplex, kWhyResolution);
    }
    if (!IsIntegerPcm(w)) {
        v.refuse(RebuildHeader, kWhyResolution);
        if (!(wide && format->isFloat())) {
            v.refuse(Split, kWhyResolution);
            v.refuse(Surround, kWhyResolution);
            v.refuse(Normalize, kWhyResolution);
        }
    }
    // Frames the transforms cannot walk in seconds (a rate, frame size or
    // channel count of 0 or less, a play time past 31 bits).
    if (w.format.samplesPerSec <= 0 || w.format.blockAlign <= 0 || w.format.channels <= 0 || w.totalSeconds() < 0 ||
        w.playRemainderFrames < 0 || w.playRemainderFrames >= w.format.samplesPerSec)
        for (Operation op : {Split, Surround, Normalize, RebuildHeader}) v.refuse(op, kWhyBadLayout);
    // Split names every channel after its speaker: offered only where it
    // would run.
    if (w.format.channels > 1) {
        try {
            SplitSpeakerNames(w.extChannelMask, w.format.channels);
        } catch (const VelmoraError&) {
            v.refuse(Split, kWhyUnknownLayout);
        }
    }
    // A frame that is not one sample container per channel cannot be walked.
    const int sampleBytes = (w.format.bitsPerSample + 7) / 8;
    if (w.format.bitsPerSample <= 0 || w.format.blockAlign != w.format.channels * sampleBytes)
        for (Operation op : {Split, Surround, Normalize, RebuildHeader}) v.refuse(op, kWhyLayout);
}

// What the sizes and the bytes after the data allow: the operations that
// copy the header need it to agree with the file.
void SizeRules(const WaveInfo& w, const AnalysisResult& result, Verdict& v) {
    using enum Operation;
    const auto refuseCopies = [&v](const Why& why) {
        for (Operation op : {Split, Surround, Normalize, RebuildHeader, Multiplex, SetRate}) v.refuse(op, why);
    };
    if (w.listFooterSize != 0)
        refuseCopies(kWhyFooter);
    else
        v.refuse(RemoveFooter, kWhyNoFooter);
    if (!result.fileSizeOK) refuseCopies(kWhyFileSize);
    if (!result.footerOK) refuseCopies(kWhyTail);
    if (result.fileSizeOK) v.refuse(FixRiffSize, kWhyRiffOK);
}

void RecoverRules(const WaveInfo& w, const AnalysisResult& result, Verdict& v) {
    using enum Operation;
    // A recorder that stopped before finalizing leaves 0 or 0xFFFFFFFF, or a
    // size it reserved and never filled; the chunk walk marks such a data
    // chunk with the bytes that really follow it.
    const auto data = std::find_if(result.chunks.begin(), result.chunks.end(), [&w](const ChunkEntry& c) {
        return c.id == "data" && c.offset == static_cast<std::uint64_t>(w.dataChunkPos);
    });
    if (data == result.chunks.end())
        v.refuse(Recover, kWhyDataNotInChain);
    else if (!data->extent)
        v.refuse(Recover, kWhyDataOK);
    // The sizes a recovery would write are there already (a data chunk of
    // less than a frame, recovered once to 0).
    else if (const auto align = static_cast<std::uint64_t>(std::max<int>(w.format.blockAlign, 1));
             data->size == *data->extent / align * align && w.riffSize + 8 == w.fileSize)
        v.refuse(Recover, kWhyDataOK);
}

// Each operation's first reason to refuse the analysed file, in the order
// the user meets them.
// A format chunk found by the byte search may hold the "data" id the search
// found next, or lie inside the data: a patch of one would write into the
// other.
void OverlapRules(const WaveInfo& w, Verdict& v) {
    const auto fmtAt = static_cast<std::uint64_t>(w.fmtChunkPos);
    const auto dataAt = static_cast<std::uint64_t>(w.dataChunkPos);
    if (ChunksOverlap(fmtAt, fmtAt + FormatBlock::kSize, dataAt, w.dataStart() + w.dataSize))
        v.refuse(Operation::SetRate, kWhyOverlap);
    if (ChunksOverlap(fmtAt, FormatFieldsEnd(w), dataAt, w.dataStart())) v.refuse(Operation::Recover, kWhyOverlap);
}

OperationReasons Rules(const WaveInfo& w, const AnalysisResult& result) {
    Verdict v;
    SampleRules(w, result, v);
    SizeRules(w, result, v);
    RecoverRules(w, result, v);
    OverlapRules(w, v);
    return v.reasons();
}

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
    std::string text = result.failure ? *result.failure : result.messages.empty() ? std::string{} : result.messages.back();
    if (const auto cut = text.find('\r'); cut != std::string::npos) text.resize(cut);
    if (const auto cut = text.find('\n'); cut != std::string::npos) text.resize(cut);
    return text.empty() ? std::string{kTextNotAnalysed} : text;
}

}  // namespace

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
    }
    return "";
}

OperationReasons WhyNotOffered(const WaveInfo& info, const AnalysisResult& result) {
    if (result.complete()) return Rules(info, result);
    OperationReasons reasons;
    const Refusal why = result.formatTooShort ? Refusal{kWhyShortFmt.code, kWhyShortFmt.text}
                                              : Refusal{StopCode(result.stop), StopReason(result)};
    for (Operation op : kAllOperations)
        if (!(info.rateRewriteOnly && op == Operation::SetRate)) reasons[static_cast<std::size_t>(op)] = why;
    return reasons;
}

std::optional<OperationSet> AllowedOperations(const WaveInfo& info, const AnalysisResult& result) {
    if (result.complete()) {
        const OperationReasons reasons = Rules(info, result);
        OperationSet s;
        for (Operation op : kAllOperations)
            if (reasons[static_cast<std::size_t>(op)].code == Reason::None) s.insert(op);
        return s;
    }
    if (info.rateRewriteOnly) return OperationSet{Operation::SetRate};
    return std::nullopt;
}

}  // namespace velmora
