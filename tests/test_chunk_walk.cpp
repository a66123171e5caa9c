// Files as other programs write them: chunks before and after the samples,
// pad bytes, compressed formats, recordings cut short. One file per class,
// built from bytes, each with what the analysis, the offered operations and
// the repairs must make of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "allowed.h"
#include "ops/catalogue.h"
#include "ops/multiplex.h"
#include "ops/operations.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "recording_host.h"
#include "wav/analysis.h"
#include "wav_builder.h"

namespace velmora::test {
namespace {

// A chunk with its pad byte after an odd body, as the format wants it.
Bytes Padded(const char* id, const Bytes& body) {
    Bytes b = Chunk(id, body);
    if (body.size() % 2 != 0) b.push_back(0);
    return b;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ffmpeg's comment tag: a LIST INFO chunk whose text contains "data".
Bytes InfoList(const std::string& comment) {
    Bytes body = Text("INFO");
    AppendBytes(body, Padded("ICMT", Text(comment + '\0')));
    return Chunk("LIST", body);
}
// A cue chunk with one point that names the "data" chunk, as the format has it.
Bytes CueChunk() {
    Bytes body;
    AppendU32(body, 1);
    AppendU32(body, 1);
    AppendU32(body, 0);
    Append(body, "data");
    AppendU32(body, 0);
    AppendU32(body, 0);
    AppendU32(body, 0);
    return Chunk("cue ", body);
}

WavBuilder Stereo(std::size_t frames) {
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(frames, 2, 2);
    return b;
}

using enum Operation;

struct Case {
    const char* name;
    std::function<Bytes()> build;
    std::int32_t dataChunkPos;
    std::string status;    // the report's status line
    std::uint32_t footer;  // "フッタサイズ"
    OperationSet allowed;
};

const OperationSet kStereoOps = {Split, Surround, Normalize, Multiplex, SetRate};
// A format chunk after other chunks also allows the header rebuild.
const OperationSet kStereoOpsAndRebuild = {Split, Surround, Normalize, Multiplex, SetRate, RebuildHeader};
const std::string kAllOK = "ファイルサイズ OK/データサイズ OK/フッタ OK";

std::vector<Case> Cases() {
    return {
        {"commentSaysData",
         [] {
             WavBuilder b = Stereo(8000);
             b.betweenFmtAndData = InfoList("raw sensor data");
             return b.Build();
         },
         36 + 8 + 4 + 8 + 16, kAllOK, 0, kStereoOps},
        {"cueBeforeData",
         [] {
             WavBuilder b = Stereo(8000);
             b.betweenFmtAndData = CueChunk();
             return b.Build();
         },
         36 + 8 + 28, kAllOK, 0, kStereoOps},
        {"bextPast2KiB",
         [] {
             WavBuilder b = Stereo(8000);
             b.beforeFmt = Padded("bext", Text(std::string(602, ' ') + std::string(3001, 'h')));
             b.betweenFmtAndData = Chunk("JUNK", Bytes(4096, 0));
             return b.Build();
         },
         12 + 8 + 3604 + 24 + 8 + 4096, kAllOK, 0, kStereoOpsAndRebuild},
        {"oddDataWithPad",
         [] {
             WavBuilder b;
             b.channels = 1, b.bitsPerSample = 8, b.samplesPerSec = 8000;
             b.samples = PatternSamples(8001, 1, 1);
             b.trailer = {0};
             return b.Build();
         },
         36, kAllOK, 0, OperationSet{Multiplex, SetRate}},
        {"tagChunksAfterData",
         [] {
             WavBuilder b = Stereo(8000);
             b.trailer = Padded("id3 ", Bytes(33, 'i'));
             AppendBytes(b.trailer, Chunk("levl", Bytes(120, 'l')));
             return b.Build();
         },
         36, kAllOK, 42 + 128, OperationSet{RemoveFooter}},
        {"cueAdtlAndListAfterOddDataWithoutPad",
         [] {
             WavBuilder b;
             b.channels = 1, b.bitsPerSample = 8, b.samplesPerSec = 8000;
             b.samples = PatternSamples(8001, 1, 1);
             b.trailer = CueChunk();
             Bytes adtl = Text("adtl");
             AppendBytes(adtl, Padded("labl", Text("one\0")));
             AppendBytes(b.trailer, Chunk("LIST", adtl));
             AppendBytes(b.trailer, InfoList("x"));
             return b.Build();
         },
         36, kAllOK, 36 + 24 + 22, OperationSet{RemoveFooter}},
        {"garbageAfterData",
         [] {
             WavBuilder b = Stereo(8000);
             b.trailer = Bytes(10, 0x01);
             return b.Build();
         },
         36, "ファイルサイズ OK/データサイズ OK/フッタNG(10Byte) ", 0, OperationSet{}},
        {"cutInsideAFrame",
         [] {
             WavBuilder b = Stereo(8000);
             b.trailer = {1, 2, 3};
             return b.Build();
         },
         36, "ファイルサイズ OK/データサイズ OK/端数フレーム(3Byte)", 0, kStereoOps},
    };
}

TEST(ChunkWalk, EachClassIsReadAsItsChainSays) {
    TempDir dir;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = c.build();
        const std::string path = dir.write(std::string(c.name) + ".wav", bytes);
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(path, info);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ(info.dataChunkPos, c.dataChunkPos);
        EXPECT_EQ((*r.report)[15], c.status);
        EXPECT_EQ((*r.report)[11], "フッタサイズ            : " + std::to_string(c.footer) + "Byte");
        EXPECT_FALSE(r.searchedFrom);
        const OperationSet allowed = Allowed(info, r);
        EXPECT_EQ(allowed, c.allowed);
        // Every operation not offered says why, and only those.
        const OperationReasons why = WhyNotOffered(info, r);
        for (Operation op : kAllOperations)
            EXPECT_EQ(WhyNot(why, op).empty(), allowed.contains(op)) << OperationName(op);
        // The chunk list after the report names every chunk (none for a plain file).
        if (r.chunks.size() > 2 || r.partialFrame) {
            EXPECT_NE(std::find(r.report->begin(), r.report->end(), "** チャンク一覧 **"), r.report->end());
        }

        if (allowed.contains(RemoveFooter)) {
            // The whole tail goes; the samples stay with their pad byte.
            RecordingHost host;
            const std::vector<std::string> out = velmora::RemoveFooter(info, {path, dir.path()}, host);
            ASSERT_EQ(out.size(), 1u);
            WaveInfo again;
            AnalysisResult clean = AnalyzeWave(out[0], again);
            EXPECT_EQ((*clean.report)[15], kAllOK);
            EXPECT_EQ(again.dataSize, info.dataSize);
            EXPECT_EQ(again.fileSize,
                      static_cast<std::uint64_t>(again.dataChunkPos) + 8u + info.dataSize + (info.dataSize & 1));
        }
    }
}

TEST(ChunkWalk, HexDumpKeepsItsCapForAFarDataChunk) {
    TempDir dir;
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(dir.write("far.wav", Cases()[2].build()), info);
    EXPECT_EQ(r.hexDump->size(), 2056u / 16 + 1);
    EXPECT_EQ(r.hexDump->back().substr(0, 5), "0800:");
}

// Compressed samples: the play time from the fact chunk or none, nothing
// that moves samples, a refused multiplex row, a byte rate that stays true.
TEST(ChunkWalk, CompressedFormats) {
    TempDir dir;
    WavBuilder adpcm;  // IMA ADPCM mono, 505 frames per 256-byte block
    adpcm.formatTag = 0x11, adpcm.channels = 1, adpcm.bitsPerSample = 4, adpcm.blockAlign = 256;
    adpcm.samplesPerSec = 8000, adpcm.avgBytesPerSec = 4055, adpcm.fmtSize = 20, adpcm.cbSize = 2;
    adpcm.samples = Bytes(256 * 48, 0x11);
    WavBuilder withFact = adpcm;
    Bytes fact;
    AppendU32(fact, 505 * 48);  // 3.03 s
    withFact.betweenFmtAndData = Chunk("fact", fact);

    for (const WavBuilder& b : {withFact, adpcm}) {
        const bool hasFact = !b.betweenFmtAndData.empty();
        SCOPED_TRACE(hasFact);
        const std::string path = dir.write("adpcm.wav", b.Build());
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(path, info);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ((*r.report)[14], hasFact ? "再生時間                : 0h 0m 3s 240"
                                           : "再生時間                : 不明(圧縮形式でfactチャンクがありません)");
        EXPECT_EQ(Allowed(info, r), OperationSet{SetRate});
        EXPECT_EQ(WhyNotCode(WhyNotOffered(info, r), Multiplex), Reason::Compressed);

        ChannelList list;
        WaveInfo rowInfo;
        ChannelRegistration reg = RegisterChannelFile(0, path, rowInfo, list);
        EXPECT_FALSE(reg.registered);
        EXPECT_EQ(ErrorCodeOf(reg.refusal.value_or("")), "compressed-row");

        RecordingHost host;
        ASSERT_EQ(RewriteSampleRate(info, {path, 16000}, host).size(), 1u);
        const Bytes after = ReadFile(path);
        EXPECT_EQ(ReadU32(after, 24), 16000u);
        EXPECT_EQ(ReadU32(after, 28), 8110u);  // 4055 scaled by 2, not 16000 × 256
    }
}

TEST(ChunkWalk, SplitIsOfferedOnlyForANamedLayout) {
    TempDir dir;
    for (int channels : {3, 8, 9}) {
        WavBuilder b;
        b.channels = static_cast<std::uint16_t>(channels);
        b.samples = PatternSamples(100, channels, 2);
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(dir.write("n.wav", b.Build()), info);
        // Up to 8 channels, the usual layout names them without a mask.
        const bool usual = channels <= 8;
        EXPECT_EQ(Allowed(info, r).contains(Split), usual) << channels;
        EXPECT_EQ(WhyNotCode(WhyNotOffered(info, r), Split), usual ? Reason::None : Reason::UnknownLayout);
        b.Extensible(16, (1u << channels) - 1);
        r = AnalyzeWave(dir.write("n.wav", b.Build()), info);
        EXPECT_TRUE(Allowed(info, r).contains(Split)) << channels;
    }
}

// recover acts on the data chunk of the chain alone and writes its two size
// fields, nothing else; the file then passes its own analysis.
TEST(ChunkWalk, RecoverWritesOnlyTheSizeFields) {
    TempDir dir;
    WavBuilder rec = Stereo(8000);
    rec.betweenFmtAndData = InfoList("raw sensor data");
    rec.dataSize = 0;
    rec.riffSize = 0;
    rec.trailer = {9, 9, 9};  // cut inside the last frame
    const Bytes before = rec.Build();
    const std::string path = dir.write("rec.wav", before);
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(path, info);
    ASSERT_TRUE(Allowed(info, r).contains(Recover));
    RecordingHost host;
    ASSERT_EQ(RecoverDataSize(info, {path}, host).size(), 1u);
    Bytes after = ReadFile(path);
    const std::size_t dataSizeAt = static_cast<std::size_t>(info.dataChunkPos) + 4;
    EXPECT_EQ(ReadU32(after, 4), before.size() - 8);
    EXPECT_EQ(ReadU32(after, dataSizeAt), 8000u * 4);
    for (std::size_t at : {std::size_t{4}, dataSizeAt})
        for (std::size_t i = 0; i < 4; ++i) after[at + i] = before[at + i];
    EXPECT_EQ(after, before);

    r = AnalyzeWave(path, info);
    EXPECT_EQ((*r.report)[15], "ファイルサイズ OK/データサイズ OK/端数フレーム(3Byte)");
    EXPECT_FALSE(Allowed(info, r).contains(Recover));

    // The healthy file with "data" in its comment is not offered recovery.
    r = AnalyzeWave(dir.write("ok.wav", Cases()[0].build()), info);
    EXPECT_EQ(WhyNotCode(WhyNotOffered(info, r), Recover), Reason::DataSizeRight);
}

// A damaged chain: the byte search finds the chunks and the report says so.
TEST(ChunkWalk, BrokenChainFallsBackToTheSearchAndSaysSo) {
    TempDir dir;
    WavBuilder b = Stereo(100);
    b.beforeFmt = Bytes(6, 0x01);  // no chunk header
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(dir.write("broken.wav", b.Build()), info);
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(info.fmtChunkPos, 18);
    EXPECT_EQ(info.dataChunkPos, 42);
    EXPECT_EQ(r.searchedFrom, 12u);
    EXPECT_EQ(r.report->back(), "チャンクの並びが位置 12 で途切れているため、fmt/dataは検索で見つけました");
}

}  // namespace
}  // namespace velmora::test
