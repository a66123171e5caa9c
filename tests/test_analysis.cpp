#include <gtest/gtest.h>

#include "error_of.h"
#include "ops/operations.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// 16-bit stereo 44100 Hz, one second and 100 frames.
WavBuilder Canonical() {
    WavBuilder b;
    b.samples = PatternSamples(44100 + 100, 2, 2);
    return b;
}

struct Enabled {
    bool split, surround, normalize, rebuild, mux, footer, rate, riffSize;
};

void ExpectEnabled(const WaveInfo& info, const AnalysisResult& r, Enabled want) {
    const std::optional<OperationSet> allowed = AllowedOperations(info, r);
    ASSERT_TRUE(allowed.has_value());
    EXPECT_EQ(allowed->contains(Operation::Split), want.split);
    EXPECT_EQ(allowed->contains(Operation::Surround), want.surround);
    EXPECT_EQ(allowed->contains(Operation::Normalize), want.normalize);
    EXPECT_EQ(allowed->contains(Operation::RebuildHeader), want.rebuild);
    EXPECT_EQ(allowed->contains(Operation::Multiplex), want.mux);
    EXPECT_EQ(allowed->contains(Operation::RemoveFooter), want.footer);
    EXPECT_EQ(allowed->contains(Operation::SetRate), want.rate);
    EXPECT_EQ(allowed->contains(Operation::FixRiffSize), want.riffSize);
}

class AnalysisTest : public ::testing::Test {
protected:
    AnalysisResult Analyse(const Bytes& bytes, const std::string& name = "f.wav") {
        return AnalyzeWave(dir.write(name, bytes), info);
    }
    TempDir dir;
    WaveInfo info;
};

}  // namespace

TEST_F(AnalysisTest, CanonicalFileReportHexDumpAndControls) {
    AnalysisResult r = Analyse(Canonical().Build());
    ASSERT_TRUE(r.complete());
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(*r.report, (std::vector<std::string>{
                             "WAVEチャンク以降のサイズ: 176,836Byte",
                             "fmtチャンクのサイズ     : 16Byte",
                             "Format ID               : 1",
                             "チャンネル数            : 2",
                             "サンプリング周波数      : 44100Hz",
                             "データ速度              : 176400Byte/sec",
                             "ブロックサイズ          : 4",
                             "ビット解像度            : 16Bit",
                             "データサイズ            : 176,800Byte",
                             "ファイルサイズ          : 176,844Byte",
                             "ヘッダサイズ            : 44Byte",
                             "フッタサイズ            : 0Byte",
                             "fmtチャンク位置         : 12",
                             "dataチャンク位置        : 36",
                             "再生時間                : 0h 0m 1s 100",
                             "ファイルサイズ OK/データサイズ OK/フッタ OK",
                         }));
    EXPECT_EQ(*r.hexDump, (std::vector<std::string>{
                              "0000: 52 49 46 46 C4 B2 02 00 57 41 56 45 66 6D 74 20",
                              "0010: 10 00 00 00 01 00 02 00 44 AC 00 00 10 B1 02 00",
                              "0020: 04 00 10 00 64 61 74 61 A0 B2 02 00",
                          }));
    ExpectEnabled(info, r, {true, true, true, false, true, false, true, false});
    EXPECT_TRUE(info.analysisComplete);
    EXPECT_EQ(info.fmtChunkPos, 12);
    EXPECT_EQ(info.dataChunkPos, 36);
    EXPECT_EQ(info.footerSize, 0);
    EXPECT_EQ(info.riffSizeExcess, 0);
    EXPECT_EQ(info.computedDataSize, 176800u);
    EXPECT_EQ(info.playSeconds, 1);
    EXPECT_EQ(info.playRemainderFrames, 100);
}

TEST_F(AnalysisTest, EighteenByteFormatChunkEnablesRebuild) {
    WavBuilder b = Canonical();
    b.fmtSize = 18;
    AnalysisResult r = Analyse(b.Build());
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(info.dataChunkPos, 38);
    EXPECT_EQ(info.channelMask, 0u);
    EXPECT_EQ(r.report->size(), 16u);  // no extensible block
    EXPECT_EQ((*r.report)[1], "fmtチャンクのサイズ     : 18Byte");
    ExpectEnabled(info, r, {true, true, true, true, true, false, true, false});
}

TEST_F(AnalysisTest, FmtSize40WithCbSize0ReadsNoExtension) {
    WavBuilder b = Canonical();
    b.Extensible(16, 0x3);
    b.formatTag = 1;
    b.cbSize = 0;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ(info.validBits, 0);
    EXPECT_EQ(info.channelMask, 0u);
    EXPECT_EQ(info.extChannelMask, 0u);
    EXPECT_EQ(r.report->size(), 16u);
}

TEST_F(AnalysisTest, SixChannel24BitExtensible) {
    WavBuilder b;
    b.channels = 6;
    b.bitsPerSample = 24;
    b.samplesPerSec = 48000;
    b.Extensible(24, 0x3F);
    b.samples = PatternSamples(480, 6, 3);
    AnalysisResult r = Analyse(b.Build());
    ASSERT_TRUE(r.complete());
    ASSERT_EQ(r.report->size(), 20u);
    EXPECT_EQ((*r.report)[2], "Format ID               : FFFE");
    EXPECT_EQ((*r.report)[16], "");
    EXPECT_EQ((*r.report)[17], "** 拡張フォーマット **");
    EXPECT_EQ((*r.report)[18], "解像度: 24Bit マスク: 3F Sub FormatID: 1 ");
    EXPECT_EQ((*r.report)[19], "Left/Right/Center/LFE/S-Left/S-Right/");
    EXPECT_EQ(info.extChannelMask, 0x3Fu);
    EXPECT_EQ(info.subFormatTag, 1);
    EXPECT_TRUE(r.messages.empty());
    // 24-bit samples split and multiplex; surround and normalize want stereo.
    ExpectEnabled(info, r, {true, false, false, false, true, false, true, false});
}

TEST_F(AnalysisTest, ListFooterLeavesOnlyFooterRemoval) {
    WavBuilder b = Canonical();
    b.trailer = ListChunk(26);
    AnalysisResult r = Analyse(b.Build());
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(info.listFooterSize, 34u);
    EXPECT_EQ((*r.report)[11], "フッタサイズ            : 34Byte");
    EXPECT_EQ((*r.report)[15], "ファイルサイズ OK/データサイズ OK/フッタ OK");
    ExpectEnabled(info, r, {false, false, false, false, false, true, false, false});
}

TEST_F(AnalysisTest, RiffSizeFourTooLarge) {
    WavBuilder b = Canonical();
    b.riffSize = 176836 + 4;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ((*r.report)[15], "ファイルサイズ NG (+4Byte) /データサイズ OK/フッタ OK");
    EXPECT_EQ(info.riffSizeExcess, 4);
    ExpectEnabled(info, r, {false, false, false, false, false, false, false, true});
}

TEST_F(AnalysisTest, RiffSizeShortGivesSignedExcess) {
    WavBuilder b = Canonical();
    b.riffSize = 176836 - 4;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ((*r.report)[15], "ファイルサイズ NG (+-4Byte) /データサイズ OK/フッタ OK");
}

TEST_F(AnalysisTest, DataSizeLargerThanFile) {
    WavBuilder b;
    b.samples = PatternSamples(25, 2, 2);  // 100 bytes
    b.dataSize = 200;
    b.riffSize = 36 + 200;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_TRUE(r.fileSizeOK);
    EXPECT_FALSE(r.footerOK);
    EXPECT_EQ(info.footerSize, -100);
    EXPECT_EQ((*r.report)[15], "ファイルサイズ OK/データサイズ OK/フッタNG(-100Byte) ");
    ExpectEnabled(info, r, {false, false, false, false, false, false, false, false});
}

TEST_F(AnalysisTest, StrayBytesAfterDataWithRiffSizeCoveringOnlyData) {
    WavBuilder b = Canonical();
    b.trailer = Bytes(100, 0x55);
    b.riffSize = 176836;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ((*r.report)[15], "ファイルサイズ OK/データサイズ OK/フッタNG(100Byte) ");
}

TEST_F(AnalysisTest, FmtIdInsideAnEarlierChunkCountsOnlyWhereTheChainBreaks) {
    // A well-formed chain: the chunk's body is never searched.
    WavBuilder b = Canonical();
    Bytes body = {'a', 'b'};
    const char* fake = "fmt ";
    body.insert(body.end(), fake, fake + 4);
    body.resize(40, 0);
    b.beforeFmt = Chunk("junk", body);
    Analyse(b.Build());
    EXPECT_EQ(info.fmtChunkPos, 12 + 8 + 40);
    EXPECT_EQ(info.format.fmtSize, 16);

    // The same chunk with a size that runs past the end: the chain is broken
    // there and the byte search finds the id inside it.
    Bytes bytes = b.Build();
    bytes[16] = 0xFF, bytes[17] = 0xFF, bytes[18] = 0xFF;
    AnalysisResult r = Analyse(bytes);
    EXPECT_EQ(info.fmtChunkPos, 12 + 8 + 2);
    EXPECT_EQ(info.format.fmtSize, 0);  // read from the junk bytes after the fake id
    EXPECT_EQ(r.searchedFrom, 20u);
}

TEST_F(AnalysisTest, ThreeByteFileHasNoRiffHeader) {
    Analyse(Canonical().Build(), "good.wav");
    AnalysisResult r = Analyse(Bytes{'R', 'I', 'F'}, "short.wav");
    EXPECT_EQ(r.stop, AnalysisStop::NoRiff);
    EXPECT_EQ(r.messages, (std::vector<std::string>{"RIFFチャンクがありません\r\n中断します"}));
    EXPECT_FALSE(r.hexDump || r.report || AllowedOperations(info, r));
    EXPECT_FALSE(info.analysisComplete);
    EXPECT_EQ(info.riffSize, 0u);        // the new, zero-padded image
    EXPECT_EQ(info.format.channels, 2);  // the rest is the previous file's
}

TEST_F(AnalysisTest, FloatingPointFormatWarnsBeforeReport) {
    WavBuilder b = Canonical();
    b.formatTag = 3;
    AnalysisResult r = Analyse(b.Build());
    ASSERT_TRUE(r.complete());
    EXPECT_EQ(
        r.messages,
        (std::vector<std::string>{"フォーマットIDが無圧縮WAV以外ですので、\r\nヘッダ内容の正確さを保証できません"}));
    EXPECT_EQ((*r.report)[2], "Format ID               : 3");
    ExpectEnabled(info, r, {false, false, false, false, true, false, true, false});
}

TEST_F(AnalysisTest, ExtensibleTagWithFmtSize16IsNotIntegerPcm) {
    WavBuilder b = Canonical();
    b.formatTag = 0xFFFE;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ(info.subFormatTag, 0);
    EXPECT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.report->size(), 16u);
}

TEST_F(AnalysisTest, HighRateRemainder) {
    WavBuilder b;
    b.samplesPerSec = 192000;
    b.samples = Bytes(150000 * 4, 0);
    AnalysisResult r = Analyse(b.Build());
    EXPECT_EQ((*r.report)[14], "再生時間                : 0h 0m 0s 150000");
}

TEST_F(AnalysisTest, DataIdBeyondSearchRangeKeepsPreviousReport) {
    Analyse(Canonical().Build(), "good.wav");
    WavBuilder b;
    b.channels = 1;
    // No chunk: the chain breaks at 36 and the search ends at 2048.
    b.betweenFmtAndData = Bytes(2048, 0x01);
    b.samples = Bytes(10, 0);
    AnalysisResult r = Analyse(b.Build(), "far.wav");
    EXPECT_EQ(r.stop, AnalysisStop::NoData);
    EXPECT_EQ(r.messages, (std::vector<std::string>{"dataチャンクが見つかりません。\r\n処理を中断します。"}));
    EXPECT_FALSE(r.report || r.hexDump || AllowedOperations(info, r));
    EXPECT_EQ(info.dataChunkPos, 2049);
    EXPECT_EQ(info.format.channels, 1);  // new format block
    EXPECT_EQ(info.dataSize, 176800u);   // old data header
}

TEST_F(AnalysisTest, NoFmtChunk) {
    Bytes bytes = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    AnalysisResult r = Analyse(bytes);
    EXPECT_EQ(r.stop, AnalysisStop::NoFmt);
    EXPECT_EQ(info.fmtChunkPos, 2049);
}

TEST_F(AnalysisTest, ChunkIdsExactlyAtTheLimit) {
    // Behind bytes that are no chunk, "fmt " at 2048 is found, at 2049 it is not.
    for (int pad : {2048 - 12, 2049 - 12}) {
        WavBuilder b = Canonical();
        b.beforeFmt = Bytes(static_cast<std::size_t>(pad), 0x01);
        AnalysisResult r = Analyse(b.Build());
        if (pad == 2048 - 12) {
            EXPECT_EQ(info.fmtChunkPos, 2048);
            EXPECT_EQ(r.stop, AnalysisStop::NoData);  // data lies beyond 2048 then
        } else {
            EXPECT_EQ(r.stop, AnalysisStop::NoFmt);
        }
    }
}

TEST_F(AnalysisTest, ZeroBlockAlignStopsWithDivisionAfterHexDump) {
    Analyse(Canonical().Build(), "good.wav");
    WavBuilder b = Canonical();
    b.blockAlign = 0;
    b.channels = 1;
    AnalysisResult r = Analyse(b.Build(), "zero.wav");
    EXPECT_EQ(r.stop, AnalysisStop::DivisionByZero);
    EXPECT_EQ(CodeOf(r.failure.value_or("")), "div-by-zero");
    EXPECT_TRUE(r.hexDump.has_value());
    EXPECT_FALSE(r.report || AllowedOperations(info, r));
    EXPECT_EQ(info.format.channels, 1);
    EXPECT_EQ(info.playSeconds, 1);  // play time of the previous file
    EXPECT_FALSE(info.analysisComplete);
}

TEST_F(AnalysisTest, UnopenableFileChangesNothing) {
    Analyse(Canonical().Build(), "good.wav");
    WaveInfo before = info;
    try {
        AnalyzeWave(dir.file("missing.wav"), info);
        FAIL();
    } catch (const VelmoraError& e) {
        EXPECT_EQ(CodeOf(e.what()), "cannot-open " + dir.file("missing.wav"));
    }
    EXPECT_EQ(info.analyzedPath, before.analyzedPath);
    EXPECT_TRUE(info.analysisComplete);
    EXPECT_THROW(AnalyzeWave(dir.path(), info), VelmoraError);  // a folder
}

TEST(PlayTime, StepExampleAndDefinedExtremes) {
    PlayTime t = ComputePlayTime(714820000, 4, 48000);
    EXPECT_EQ(t.hours, 1);
    EXPECT_EQ(t.minutes, 2);
    EXPECT_EQ(t.seconds, 3);
    EXPECT_EQ(t.remainderFrames, 1000);

    // 2^31 frames or more and negative block sizes must be defined values
    // (the sanitizer build checks there is no overflow).
    PlayTime big = ComputePlayTime(0xFFFFFFFFu, 1, 1);
    EXPECT_EQ(big.remainderFrames, 0);
    PlayTime neg = ComputePlayTime(100, -1, 44100);
    EXPECT_EQ(neg.remainderFrames, -100);
    EXPECT_EQ(neg.hours, 0);
    PlayTime minusOne = ComputePlayTime(0x80000000u, 1, -1);
    EXPECT_EQ(minusOne.remainderFrames, 0);
    EXPECT_THROW(ComputePlayTime(100, 4, 0), VelmoraError);
    EXPECT_THROW(ComputePlayTime(100, 0, 44100), VelmoraError);
}

TEST(HexDump, PartialLastLineAndWideOffsets) {
    Bytes bytes(20);
    for (std::size_t i = 0; i < 20; ++i) bytes[i] = static_cast<std::uint8_t>(i * 17);
    auto lines = HexDumpLines(bytes.data(), bytes.size());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "0010: 10 21 32 43");
    EXPECT_TRUE(HexDumpLines(bytes.data(), 0).empty());
}
