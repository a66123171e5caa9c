// The hostile-file corpus: malformed files built from bytes, each with the
// outcome its analysis must have. Shared by the analysis and operation tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "error_of.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "allowed.h"
#include "metadata_chunks.h"
#include "wav_builder.h"

namespace velmora::test::hostile {


inline WavBuilder Canonical() {
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(8000 + 17, 2, 2);
    return b;
}

inline Bytes Patch32(Bytes b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}
inline Bytes Patch16(Bytes b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
    return b;
}

// A file whose "fmt " (or "data") id starts exactly at the given offset.
inline Bytes WithFmtAt(int offset) {
    WavBuilder b = Canonical();
    b.beforeFmt = Chunk("pad ", Bytes(static_cast<std::size_t>(offset - 20), 0));
    return b.Build();
}
inline Bytes WithDataAt(int offset) {
    WavBuilder b = Canonical();
    b.betweenFmtAndData = Chunk("pad ", Bytes(static_cast<std::size_t>(offset - 44), 0));
    return b.Build();
}

struct Case {
    std::string name;
    Bytes bytes;
    AnalysisStop stop;
    // Further checks on a completed or stopped analysis.
    std::function<void(const AnalysisResult&, const WaveInfo&)> check = nullptr;
};

// A broken descriptive chunk: the analysis completes, the size checks stand,
// and the metadata section carries the note.
inline std::function<void(const AnalysisResult&, const WaveInfo&)> MetadataNote(const std::string& note) {
    return [note](const AnalysisResult& r, const WaveInfo&) {
        const std::vector<std::string>& notes = r.metadata.notes;
        const auto has = [&note](const std::string& line) { return line.find(note) != std::string::npos; };
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), has)) << note;
        EXPECT_TRUE(std::any_of(r.report->begin(), r.report->end(), has)) << note;
        EXPECT_NE(std::find(r.report->begin(), r.report->end(), "** メタデータ **"), r.report->end());
        EXPECT_EQ(r.report->at(15).rfind("ファイルサイズ", 0), 0u);
    };
}

inline std::vector<Case> MetadataCases() {
    const auto between = [](const Bytes& chunks) {
        WavBuilder b = Canonical();
        b.betweenFmtAndData = chunks;
        return b.Build();
    };
    std::vector<Case> c;
    c.push_back({"bextShort", between(Chunk("bext", Bytes(100, 'b'))), AnalysisStop::Complete,
                 MetadataNote("bextチャンクが 100Byte しかありません")});
    c.push_back(
        {"cuePastData", between(CueChunk({{1, 1000000}})), AnalysisStop::Complete, MetadataNote("cue 1 はデータの外")});
    {
        Bytes region = CueChunk({{2, 8000}});
        AppendBytes(region, ListOf("adtl", {RegionText(2, 5000, "runs on")}));
        c.push_back({"regionPastData", between(region), AnalysisStop::Complete,
                     MetadataNote("cue 2 のリージョンの終わり(13,000 サンプル)がデータの外です")});
    }
    c.push_back({"cueCountTooLarge", between(CueChunk({{1, 10}}, 1000)), AnalysisStop::Complete,
                 MetadataNote("cueチャンクは 1000 点としていますが、中身は 1 点分です")});
    c.push_back({"cueEmpty", between(Chunk("cue ", {})), AnalysisStop::Complete, MetadataNote("cueチャンクが短すぎ")});
    c.push_back({"adtlUnknownCue", between(ListOf("adtl", {CueText("labl", 7, "lost")})), AnalysisStop::Complete,
                 MetadataNote("存在しない cue 7")});
    c.push_back({"ixmlBroken", between(Chunk("iXML", TextBytes("<BWFXML><PROJECT>x</BWFXML>"))), AnalysisStop::Complete,
                 MetadataNote("iXMLを解析できません")});
    c.push_back({"infoNoEncoding", between(ListOf("INFO", {TextField("ICMT", Bytes{0xFF, 0xFE, 'a'})})),
                 AnalysisStop::Complete, MetadataNote("INFOのICMTは文字コードが不明")});
    {
        Bytes overrun = ListOf("INFO", {TextField("INAM", TextBytes("title"))});
        overrun[16] = 200;  // INAM claims more than its LIST holds
        c.push_back({"infoFieldOverruns", between(overrun), AnalysisStop::Complete, MetadataNote("はみ出しています")});
    }
    c.push_back({"smplShort", between(Chunk("smpl", Bytes(20, 0))), AnalysisStop::Complete,
                 MetadataNote("smplチャンクが 20Byte しかありません")});
    c.push_back({"smplLoopPastData", between(SmplChunk(60, {{1, 0, 0, 900000, 0}})), AnalysisStop::Complete,
                 MetadataNote("ループ 1 の範囲")});
    c.push_back({"instShort", between(Chunk("inst", Bytes(3, 0))), AnalysisStop::Complete,
                 MetadataNote("instチャンクが 3Byte しかありません")});
    {
        // A note per repeated field would grow with the chunk: they stop at a cap.
        const std::vector<Bytes> repeated(1000, TextField("INAM", {}));
        c.push_back({"infoNotesCapped", between(ListOf("INFO", repeated)), AnalysisStop::Complete,
                     [](const AnalysisResult& r, const WaveInfo&) {
                         EXPECT_EQ(r.metadata.notes.size(), kMetadataNoteCap + 1);
                         EXPECT_EQ(r.metadata.notes.back(), "これ以降の注意は省略しました");
                         EXPECT_EQ(r.metadata.info.size(), 1u);
                     }});
    }
    {
        WavBuilder b = Canonical();
        b.trailer = ListOf("INFO", {TextField("INAM", TextBytes("cut short"))});
        Bytes bytes = b.Build();
        bytes.resize(bytes.size() - 6);  // the LIST claims bytes the file no longer has
        c.push_back({"infoPastEnd", bytes, AnalysisStop::Complete, MetadataNote("LISTチャンクがファイルの終わりを")});
    }
    return c;
}

inline std::vector<Case> Corpus() {
    std::vector<Case> c;
    const Bytes good = Canonical().Build();
    const auto truncated = [&good](std::size_t len) {
        return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(len));
    };
    // Truncated at every header boundary.
    for (std::size_t len : {0u, 1u, 3u})
        c.push_back({"cut" + std::to_string(len), truncated(len), AnalysisStop::NoRiff});
    for (std::size_t len : {4u, 8u, 12u, 15u})
        c.push_back({"cut" + std::to_string(len), truncated(len), AnalysisStop::NoFmt});
    for (std::size_t len : {16u, 20u, 24u, 36u, 39u})
        c.push_back({"cut" + std::to_string(len), truncated(len), AnalysisStop::NoData});
    for (std::size_t len : {40u, 43u, 44u, 45u, 1000u}) {
        c.push_back({"cut" + std::to_string(len), truncated(len), AnalysisStop::Complete,
                     [](const AnalysisResult& r, const WaveInfo& w) {
                         EXPECT_FALSE(r.fileSizeOK && r.footerOK);
                         EXPECT_FALSE(Allowed(w, r).contains(Operation::Split) ||
                                      Allowed(w, r).contains(Operation::Multiplex) ||
                                      Allowed(w, r).contains(Operation::SetRate));
                     }});
    }
    // Format chunk sizes.
    // The fields after a format chunk of size 0 are no fields of it.
    c.push_back({"fmtSize0", Patch32(good, 16, 0), AnalysisStop::DivisionByZero,
                 [](const AnalysisResult& r, const WaveInfo& w) {
                     EXPECT_TRUE(r.formatTooShort);
                     EXPECT_EQ(w.format.samplesPerSec, 0);
                     EXPECT_FALSE(w.rateRewriteOnly);
                 }});
    c.push_back({"fmtSizeMax", Patch32(good, 16, 0xFFFFFFFF), AnalysisStop::Complete,
                 [](const AnalysisResult& r, const WaveInfo& w) {
                     EXPECT_EQ(w.format.fmtSize, -1);  // signed: no extension is read
                     EXPECT_EQ(w.channelMask, 0u);
                     // No extensible block; the chunk list says where the chain broke.
                     EXPECT_EQ((*r.report)[17], "** チャンク一覧 **");
                 }});
    c.push_back({"fmtSizeOdd", Patch32(good, 16, 17), AnalysisStop::Complete});
    // Channels and block sizes.
    c.push_back({"channels0", Patch16(good, 22, 0), AnalysisStop::Complete});
    c.push_back({"channels65535", Patch16(good, 22, 65535), AnalysisStop::Complete,
                 [](const AnalysisResult& r, const WaveInfo& w) {
                     EXPECT_EQ(w.format.channels, -1);
                     EXPECT_EQ((*r.report)[3], "チャンネル数            : -1");
                 }});
    c.push_back({"blockAlign0", Patch16(good, 32, 0), AnalysisStop::DivisionByZero,
                 [](const AnalysisResult& r, const WaveInfo&) {
                     EXPECT_EQ(CodeOf(r.failure.value_or("")), "div-by-zero");
                     EXPECT_TRUE(r.hexDump.has_value());
                 }});
    c.push_back({"blockAlign8000", Patch16(good, 32, 0x8000), AnalysisStop::Complete,
                 [](const AnalysisResult&, const WaveInfo& w) {
                     EXPECT_EQ(w.format.blockAlign, -32768);
                     EXPECT_LE(w.playRemainderFrames, 0);
                 }});
    c.push_back({"rate0", Patch32(good, 24, 0), AnalysisStop::DivisionByZero});
    c.push_back({"rateNegative", Patch32(good, 24, static_cast<std::uint32_t>(-44100)), AnalysisStop::Complete,
                 [](const AnalysisResult& r, const WaveInfo&) {
                     EXPECT_EQ((*r.report)[4], "サンプリング周波数      : -44100Hz");
                 }});
    c.push_back({"rateMinusOne", Patch32(good, 24, 0xFFFFFFFF), AnalysisStop::Complete});
    // Data sizes.
    c.push_back({"dataSizeMax", Patch32(good, 40, 0xFFFFFFFF), AnalysisStop::Complete,
                 [](const AnalysisResult& r, const WaveInfo& w) {
                     EXPECT_EQ(w.dataSize, 0xFFFFFFFFu);
                     EXPECT_FALSE(r.footerOK);
                     EXPECT_FALSE(Allowed(w, r).contains(Operation::Split) ||
                                  Allowed(w, r).contains(Operation::Surround) ||
                                  Allowed(w, r).contains(Operation::Multiplex));
                 }});
    c.push_back({"dataSize0", Patch32(good, 40, 0), AnalysisStop::Complete});
    {
        WavBuilder b = Canonical();
        b.trailer = Chunk("LIST", Bytes(8, 'x'));
        Bytes bytes = Patch32(b.Build(), good.size() + 4, 0xFFFFFFFC);  // size + 8 wraps to 4
        c.push_back({"listSizeWraps", bytes, AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
                         EXPECT_EQ(w.listFooterSize, 4u);
                         EXPECT_FALSE(r.footerOK);
                         EXPECT_TRUE(Allowed(w, r).contains(Operation::RemoveFooter));
                     }});
    }
    {
        WavBuilder b = Canonical();
        b.trailer = Bytes{'L', 'I', 'S'};  // a footer id cut short
        c.push_back({"listCut", b.Build(), AnalysisStop::Complete,
                     [](const AnalysisResult&, const WaveInfo& w) { EXPECT_EQ(w.listFooterSize, 0u); }});
    }
    // Chunks at and past the end of the old search range: the chain finds
    // them at any distance, and the hex dump stays capped at 2056 bytes.
    for (int at : {2047, 2048, 2049})
        c.push_back({"fmtAt" + std::to_string(at), WithFmtAt(at), AnalysisStop::Complete,
                     [at](const AnalysisResult& r, const WaveInfo& w) {
                         EXPECT_EQ(w.fmtChunkPos, at);
                         EXPECT_EQ(w.dataChunkPos, at + 24);
                         EXPECT_EQ(r.hexDump->size(), 2056u / 16 + 1);
                     }});
    c.push_back(
        {"dataAt2046", WithDataAt(2046), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
             EXPECT_EQ(w.dataChunkPos, 2046);
             EXPECT_EQ(r.hexDump->size(), (2046u + 8 + 15) / 16);
         }});
    c.push_back(
        {"dataAt2048", WithDataAt(2048), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
             EXPECT_EQ(w.dataChunkPos, 2048);
             EXPECT_TRUE(r.fileSizeOK && r.footerOK);
             EXPECT_EQ(r.hexDump->back().substr(0, 5), "0800:");
         }});
    c.push_back(
        {"dataAt2049", WithDataAt(2049), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
             EXPECT_EQ(w.dataChunkPos, 2049);
             EXPECT_TRUE(r.fileSizeOK && r.footerOK);
         }});
    {
        // "fmt " id split across the 2 KiB boundary with nothing after it.
        Bytes b = WithFmtAt(2046);
        b.resize(2048);
        c.push_back({"fmtSplitAtEnd", b, AnalysisStop::NoFmt});
    }
    c.push_back({"riffOnly", Bytes{'R', 'I', 'F', 'F'}, AnalysisStop::NoFmt});
    c.push_back({"riffLowercase",
                 [&] {
                     Bytes b = good;
                     b[0] = 'r';
                     return b;
                 }(),
                 AnalysisStop::NoRiff});
    c.push_back({"formTypeNotWave",
                 [&] {
                     Bytes b = good;
                     b[8] = 'A';
                     return b;
                 }(),
                 AnalysisStop::Complete});
    c.push_back({"allOnes", Bytes(3000, 0xFF), AnalysisStop::NoRiff});
    {
        Bytes b(3000, 0);
        std::memcpy(b.data(), "RIFF", 4);
        c.push_back({"riffThenZeros", b, AnalysisStop::NoFmt});
    }
    {
        // Every chunk id present, every field zero.
        Bytes b(44, 0);
        std::memcpy(b.data(), "RIFF", 4);
        std::memcpy(b.data() + 12, "fmt ", 4);
        std::memcpy(b.data() + 36, "data", 4);
        c.push_back({"zeroFields", b, AnalysisStop::DivisionByZero});
    }
    {
        WavBuilder b = Canonical();
        b.Extensible(16, 0xFFFFFFFF);
        b.cbSize = 0x7FFF;
        c.push_back(
            {"extensibleAllMask", b.Build(), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo&) {
                 EXPECT_EQ(r.report->back(),
                           "Left/Right/Center/LFE/S-Left/S-Right/F-Left of Center/F-Right of Center/"
                           "Back-Center/Side Left/Side Right/Top-Center/Top-F-Left/T-F-Center/"
                           "T-F-Right/T-B-Left/T-B-Center/T-B-Right/");
             }});
    }
    {
        WavBuilder b = Canonical();
        b.Extensible(16, 0x3);
        b.cbSize = 0x8000;  // negative: no extension read
        c.push_back(
            {"cbSizeNegative", b.Build(), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
                 EXPECT_EQ(w.channelMask, 0u);
                 EXPECT_EQ(r.messages.size(), 1u);  // 0xFFFE without sub-format
             }});
    }

    // Headers the operations meet: sizes that end inside a frame, frame
    // sizes that disagree with the channels, the footers and format chunks
    // the repairs are for.
    const auto sizesAgree = [](const AnalysisResult& r, const WaveInfo&) { EXPECT_TRUE(r.fileSizeOK && r.footerOK); };
    {
        WavBuilder b = Canonical();
        b.samples.resize(b.samples.size() + 2, 0x5A);  // half a frame more
        c.push_back({"stereoPartialFrame", b.Build(), AnalysisStop::Complete, sizesAgree});
        b.fmtSize = 18;
        c.push_back({"fmt18PartialFrame", b.Build(), AnalysisStop::Complete, sizesAgree});
    }
    {
        WavBuilder b = Canonical();
        b.blockAlign = 8;  // 16-bit stereo that claims 8 bytes a frame
        c.push_back({"blockAlign8", b.Build(), AnalysisStop::Complete, sizesAgree});
        b.fmtSize = 18;
        c.push_back({"fmt18BlockAlign8", b.Build(), AnalysisStop::Complete, sizesAgree});
    }
    {
        WavBuilder b = Canonical();
        b.fmtSize = 18;
        c.push_back({"fmt18", b.Build(), AnalysisStop::Complete, sizesAgree});
    }
    {
        WavBuilder b = Canonical();
        b.channels = 1;
        b.samples = PatternSamples(8000 + 9, 1, 2);
        b.samples.push_back(0x77);  // an odd byte after the last frame
        c.push_back({"monoPartialFrame", b.Build(), AnalysisStop::Complete, sizesAgree});
    }
    {
        WavBuilder b = Canonical();
        b.trailer = ListChunk(26);
        c.push_back({"listFooter", b.Build(), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
                         EXPECT_EQ(w.listFooterSize, 34u);
                         EXPECT_TRUE(r.footerOK && Allowed(w, r).contains(Operation::RemoveFooter));
                     }});
        Bytes claims = b.Build();
        claims = Patch32(claims, claims.size() - 30, 26 + 100);  // 100 bytes more than follow
        c.push_back(
            {"listClaimsTooMuch", claims, AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
                 EXPECT_EQ(w.listFooterSize, 134u);
                 EXPECT_FALSE(r.footerOK);
             }});
    }
    {
        WavBuilder b = Canonical();
        b.riffSize = 36 + 8017 * 4 + 100;  // counts 100 bytes that are not there
        c.push_back({"riffTooLarge", b.Build(), AnalysisStop::Complete, [](const AnalysisResult& r, const WaveInfo& w) {
                         EXPECT_TRUE(Allowed(w, r).contains(Operation::FixRiffSize));
                     }});
    }
    for (Case& m : MetadataCases()) c.push_back(std::move(m));
    return c;
}

inline std::uint64_t Checksum(const Bytes& b) {
    std::uint64_t h = 1469598103934665603ull;
    for (auto x : b) h = (h ^ x) * 1099511628211ull;
    return h;
}


}  // namespace velmora::test::hostile
