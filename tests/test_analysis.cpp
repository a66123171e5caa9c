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
    EXPECT_EQ((*r.report)[15], "ファイルサイズ NG (-4Byte) /データサイズ OK/フッタ OK");
}

TEST_F(AnalysisTest, DataSizeLargerThanFile) {
    WavBuilder b;
    b.samples = PatternSamples(25, 2, 2);  // 100 bytes
    b.dataSize = 200;
    b.riffSize = 36 + 200;
    AnalysisResult r = Analyse(b.Build());
    // The RIFF size counts 100 bytes the file lacks: neither size holds.
    EXPECT_FALSE(r.fileSizeOK);
    EXPECT_FALSE(r.footerOK);
    EXPECT_EQ(info.footerSize, -100);
    EXPECT_EQ((*r.report)[15], "ファイルサイズ NG/データサイズ NG (-100Byte) ");
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

// The size line says what holds, and the repairs offered follow it: a data
// size that does not hold is the recovery's, which sets both sizes.
TEST_F(AnalysisTest, SizeLineAndRepairsFollowTheDataSize) {
    const auto padded = [] {
        WavBuilder b;
        b.channels = 1;
        b.bitsPerSample = 8;
        b.samples = PatternSamples(1001, 1, 1);
        b.trailer = {0};         // the pad byte ends the file
        b.riffSize = 36 + 1001;  // and the RIFF size leaves it out
        return b;
    };
    const auto unfinalized = [](std::uint32_t size) {
        WavBuilder b = Canonical();
        b.dataSize = size;
        b.riffSize = size;
        return b;
    };
    WavBuilder cut = Canonical();
    Bytes half = cut.Build();
    half.resize(half.size() / 2 + 1);
    struct Case {
        const char* name;
        Bytes bytes;
        const char* status;
        Reason riffSize, recover;
    };
    const Case cases[] = {
        {"healthy", Canonical().Build(), "ファイルサイズ OK/データサイズ OK/フッタ OK", Reason::RiffSizeRight,
         Reason::DataSizeRight},
        {"cut in half", half, "ファイルサイズ NG/データサイズ NG (-88421Byte) ", Reason::DataSizeFirst, Reason::None},
        {"size 0", unfinalized(0).Build(), "ファイルサイズ NG/データサイズ NG (未確定)", Reason::DataSizeFirst,
         Reason::None},
        {"size 0xFFFFFFFF", unfinalized(0xFFFFFFFFu).Build(), "ファイルサイズ NG/データサイズ NG (未確定)",
         Reason::DataSizeFirst, Reason::None},
        {"RIFF size without the pad byte", padded().Build(), "ファイルサイズ OK/データサイズ OK/フッタ OK",
         Reason::None, Reason::DataSizeRight},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnalysisResult r = Analyse(c.bytes);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ((*r.report)[15], c.status);
        const OperationReasons why = WhyNotOffered(info, r);
        EXPECT_EQ(WhyNotCode(why, Operation::FixRiffSize), c.riffSize);
        EXPECT_EQ(WhyNotCode(why, Operation::Recover), c.recover);
    }
}

TEST_F(AnalysisTest, ARiffSizeShortOnlyByThePadByteIsConsistentWithANote) {
    WavBuilder b;
    b.channels = 1;
    b.bitsPerSample = 8;
    b.samples = PatternSamples(1001, 1, 1);
    b.trailer = {0};
    b.riffSize = 36 + 1001;
    AnalysisResult r = Analyse(b.Build());
    EXPECT_TRUE(r.fileSizeOK);
    EXPECT_TRUE(r.riffOmitsPad);
    EXPECT_NE(std::find(r.report->begin(), r.report->end(),
                        "RIFFサイズが末尾のパッドバイトを数えていません(再生には支障ありません)"),
              r.report->end());
    // One byte more is no pad byte: the size is wrong.
    b.riffSize = 36 + 1000;
    r = Analyse(b.Build());
    EXPECT_FALSE(r.fileSizeOK);
    EXPECT_EQ((*r.report)[15], "ファイルサイズ NG (-2Byte) /データサイズ OK/フッタ OK");
}

// The extension is read from the format chunk's own bytes: a short chunk
// followed by a fact chunk has no mask, whatever its cbSize claims.
TEST_F(AnalysisTest, ExtensionFieldsComeOnlyFromTheFormatChunk) {
    struct Case {
        const char* name;
        std::uint16_t tag, channels, bits;
        std::uint32_t fmtSize;
        std::uint16_t cbSize;
    };
    for (const Case& c : {Case{"IMA ADPCM, 20 bytes", 0x11, 2, 4, 20, 2}, Case{"GSM, 20 bytes", 0x31, 1, 0, 20, 2},
                          Case{"PCM, 18 bytes claiming 22", 1, 4, 16, 18, 22}}) {
        SCOPED_TRACE(c.name);
        WavBuilder b;
        b.formatTag = c.tag;
        b.channels = c.channels;
        b.bitsPerSample = c.bits;
        b.blockAlign = static_cast<std::uint16_t>(c.channels * 256);
        b.fmtSize = c.fmtSize;
        b.cbSize = c.cbSize;
        b.betweenFmtAndData = Chunk("fact", {0x10, 0, 0, 0});
        b.samples = Bytes(std::size_t{c.channels} * 256 * 4, 0x11);
        AnalysisResult r = Analyse(b.Build());
        ASSERT_TRUE(r.complete());
        EXPECT_EQ(info.channelMask, 0u);
        EXPECT_EQ(info.extChannelMask, 0u);
    }
}

// A format chunk behind the data belongs to the header: no footer, no tag.
TEST_F(AnalysisTest, AFormatChunkAfterTheDataIsNoFooter) {
    const WavBuilder b = Canonical();
    const Bytes plain = b.Build();
    const Bytes fmtAfter(plain.begin() + 12, plain.begin() + 36);
    for (const bool withTag : {false, true}) {
        SCOPED_TRACE(withTag);
        Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        AppendBytes(file, Chunk("data", b.samples));
        AppendBytes(file, fmtAfter);
        if (withTag) AppendBytes(file, ListChunk(10));
        const auto riff = static_cast<std::uint32_t>(file.size() - 8);
        for (int i = 0; i < 4; ++i) file[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
        AnalysisResult r = Analyse(file);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ(info.formatAfterData, fmtAfter.size());
        EXPECT_EQ(info.listFooterSize, withTag ? 18u : 0u);
        EXPECT_TRUE(r.footerOK);
        const OperationReasons why = WhyNotOffered(info, r);
        EXPECT_EQ(WhyNotCode(why, Operation::RemoveFooter), withTag ? Reason::None : Reason::NoFooter);
        EXPECT_EQ(WhyNotCode(why, Operation::Split), withTag ? Reason::TagFooter : Reason::None);
    }
}
