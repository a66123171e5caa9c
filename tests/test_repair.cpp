// The header repairs, byte for byte: what each writes, what it leaves alone,
// and how it ends when the file is not what the analysis saw.
#include <gtest/gtest.h>

#include <filesystem>

#include "io/paths.h"
#include "error_of.h"
#include "ops/option_text.h"
#include "ops/records.h"
#include "ops/repair.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav/text.h"
#include "allowed.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr std::size_t MiB = 1048576;

// A small rate keeps the one-second blocks (and the fixtures) small.
WavBuilder Stereo16(std::size_t frames, std::uint32_t rate = 1000) {
    WavBuilder b;
    b.samplesPerSec = rate;
    b.samples = PatternSamples(frames, 2, 2);
    return b;
}

AnalysisResult Analyse(const std::string& path, WaveInfo& info) {
    AnalysisResult r = AnalyzeWave(path, info);
    EXPECT_TRUE(r.complete()) << path;
    return r;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

}  // namespace

// ---- RebuildHeader ---------------------------------------------------------

TEST(RebuildHeader, EighteenByteFormatAtTwelveBecomesThePlainHeader) {
    TempDir dir;
    WavBuilder src = Stereo16(2500);  // 2 s and 500 frames
    src.fmtSize = 18;
    std::string path = dir.write("take1.wav", src.Build());
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::RebuildHeader));
    ASSERT_EQ(info.dataChunkPos, 38);

    RecordingHost host;
    auto out = RebuildHeader(info, {path, dir.path()}, host);
    ASSERT_EQ(out, std::vector<std::string>{dir.file("take1(reheader).wav")});

    WavBuilder expected = Stereo16(2500);  // fmtSize 16, riffSize dataSize + 36
    Bytes written = ReadFile(out[0]);
    EXPECT_EQ(written, expected.Build());
    EXPECT_EQ(ReadU32(written, 4), ReadU32(src.Build(), 4) - 2);
    EXPECT_EQ(host.progressCalls, 2);  // once per second, not for the rest
    EXPECT_EQ(host.lastProgress, 100);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.logLines.empty());
}

TEST(RebuildHeader, ChunksBeforeTheDataAreDroppedAndTheRiffSizeFollows) {
    TempDir dir;
    const Bytes samples = PatternSamples(1200, 2, 2);

    // Another chunk before a 16-byte format chunk: riffSize = dataSize + 36.
    WavBuilder before = Stereo16(1200);
    before.beforeFmt = Chunk("junk", Bytes(10, 0xAB));
    std::string p1 = dir.write("before.wav", before.Build());
    WaveInfo i1;
    ASSERT_TRUE(Allowed(i1, Analyse(p1, i1)).contains(Operation::RebuildHeader));
    ASSERT_EQ(i1.fmtChunkPos, 30);
    RecordingHost h1;
    auto o1 = RebuildHeader(i1, {p1, dir.path()}, h1);
    ASSERT_EQ(o1.size(), 1u);
    EXPECT_EQ(ReadFile(o1[0]), Stereo16(1200).Build());

    // An 18-byte format chunk at 12 and a chunk after it: the output's sizes
    // count only what it holds, not the chunk left out.
    WavBuilder after = Stereo16(1200);
    after.fmtSize = 18;
    after.betweenFmtAndData = Chunk("junk", Bytes(6, 0xCD));
    std::string p2 = dir.write("after.wav", after.Build());
    WaveInfo i2;
    ASSERT_TRUE(Allowed(i2, Analyse(p2, i2)).contains(Operation::RebuildHeader));
    RecordingHost h2;
    auto o2 = RebuildHeader(i2, {p2, dir.path()}, h2);
    ASSERT_EQ(o2.size(), 1u);
    Bytes w2 = ReadFile(o2[0]);
    ASSERT_EQ(w2.size(), 44 + samples.size());
    EXPECT_EQ(ReadU32(w2, 4), w2.size() - 8);
    EXPECT_EQ(ReadU32(w2, 40), samples.size());
    EXPECT_EQ(ReadU32(w2, 16), 16u);
    EXPECT_EQ(Slice(w2, 0, 4), Bytes({'R', 'I', 'F', 'F'}));
    EXPECT_EQ(Slice(w2, 36, 4), Bytes({'d', 'a', 't', 'a'}));
    EXPECT_EQ(Slice(w2, 44, samples.size()), samples);
}

TEST(RebuildHeader, ExtensibleSourceGetsThePlainPcmTag) {
    TempDir dir;
    WavBuilder src = Stereo16(1500);
    src.Extensible(16, 0x3);
    src.beforeFmt = Chunk("bext", Bytes(4, 1));
    std::string path = dir.write("ext.wav", src.Build());
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::RebuildHeader));

    RecordingHost host;
    auto out = RebuildHeader(info, {path, dir.path()}, host);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ReadFile(out[0]), Stereo16(1500).Build());
}

TEST(RebuildHeader, CopiesWholeFramesOnlyAndShortFilesLeaveTheGauge) {
    TempDir dir;
    // 2 bytes beyond the last whole frame: header and data hold the whole
    // frames only.
    WavBuilder ragged = Stereo16(1300);
    ragged.fmtSize = 18;
    ragged.samples.push_back(0x11);
    ragged.samples.push_back(0x22);
    std::string p1 = dir.write("ragged.wav", ragged.Build());
    WaveInfo i1;
    ASSERT_TRUE(Allowed(i1, Analyse(p1, i1)).contains(Operation::RebuildHeader));
    RecordingHost h1;
    Bytes w1 = ReadFile(RebuildHeader(i1, {p1, dir.path()}, h1).at(0));
    ASSERT_EQ(w1.size(), 44u + 1300 * 4);
    EXPECT_EQ(ReadU32(w1, 40), 1300u * 4);
    EXPECT_EQ(ReadU32(w1, 4), w1.size() - 8);
    EXPECT_EQ(Slice(w1, 44, 1300 * 4), PatternSamples(1300, 2, 2));

    // Shorter than one second: only the rest is copied, the gauge untouched.
    WavBuilder shortOne = Stereo16(300);
    shortOne.fmtSize = 18;
    std::string p2 = dir.write("short.wav", shortOne.Build());
    WaveInfo i2;
    Analyse(p2, i2);
    RecordingHost h2;
    Bytes w2 = ReadFile(RebuildHeader(i2, {p2, dir.path()}, h2).at(0));
    EXPECT_EQ(w2, Stereo16(300).Build());
    EXPECT_EQ(h2.progressCalls, 0);
}

TEST(RebuildHeader, PlainFormatAtTwelveIsRefusedWithoutOutput) {
    TempDir dir;
    std::string path = dir.write("plain.wav", Stereo16(100).Build());
    WaveInfo info;
    Analyse(path, info);
    RecordingHost host;
    EXPECT_TRUE(RebuildHeader(info, {path, dir.path()}, host).empty());
    EXPECT_EQ(host.messages, std::vector<std::string>{"fmtチャンクが再構築対象外です。"});
    EXPECT_FALSE(std::filesystem::exists(dir.file("plain(reheader).wav")));
}

TEST(RebuildHeader, SourceShrunkAfterTheAnalysisIsReported) {
    TempDir dir;
    WavBuilder src = Stereo16(3000);
    src.fmtSize = 18;
    std::string path = dir.write("shrunk.wav", src.Build());
    WaveInfo info;
    Analyse(path, info);
    std::filesystem::resize_file(path, 46 + 1500 * 4);
    RecordingHost host;
    EXPECT_EQ(CodeOfFailure([&] { RebuildHeader(info, {path, dir.path()}, host); }), "source-changed " + path);
    // An incomplete copy is no output: nothing appears.
    EXPECT_FALSE(std::filesystem::exists(dir.file("shrunk(reheader).wav")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// ---- The guard every operation shares ---------------------------------------

TEST(RepairGuard, EmptyFieldDoesNothingAndOnlyTheAnalysedFileIsTouched) {
    TempDir dir;
    WavBuilder bad = Stereo16(100);
    bad.riffSize = 999;
    Bytes badBytes = bad.Build();
    std::string analysed = dir.write("analysed.wav", badBytes);
    std::string other = dir.write("other.wav", badBytes);  // never analysed
    WaveInfo info;
    Analyse(analysed, info);
    const WaveInfo before = info;
    RecordingHost host;

    EXPECT_TRUE(RewriteRiffSize(info, {""}, host).empty());
    EXPECT_TRUE(RewriteSampleRate(info, {"", 44100}, host).empty());
    EXPECT_TRUE(RebuildHeader(info, {"", dir.path()}, host).empty());
    EXPECT_TRUE(RemoveFooter(info, {"", dir.path()}, host).empty());
    EXPECT_EQ(host.progressCalls, 0);

    EXPECT_EQ(CodeOfFailure([&] { RewriteRiffSize(info, {other}, host); }), "not-analysed");
    EXPECT_EQ(CodeOfFailure([&] { RewriteSampleRate(info, {other, 44100}, host); }), "not-analysed");
    EXPECT_EQ(CodeOfFailure([&] { RemoveFooter(info, {other, dir.path()}, host); }), "not-analysed");
    EXPECT_EQ(ReadFile(other), badBytes);
    EXPECT_EQ(ReadFile(analysed), badBytes);
    EXPECT_EQ(info.riffSize, before.riffSize);

    // An analysis that stopped early protects nothing it did not finish.
    std::string noData = dir.write("nodata.wav", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
    AnalyzeWave(noData, info);
    EXPECT_EQ(CodeOfFailure([&] { RewriteRiffSize(info, {noData}, host); }), "not-analysed");
}

// ---- RewriteRiffSize --------------------------------------------------------

TEST(RewriteRiffSize, CountsAnUnknownTrailerAndChangesOnlyThatField) {
    TempDir dir;
    WavBuilder src = Stereo16(100);
    src.trailer = Bytes{'j', 'u', 'n', 'k', 1};
    src.riffSize = 12345;
    Bytes original = src.Build();
    std::string path = dir.write("riff.wav", original);
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::FixRiffSize));

    RecordingHost host;
    EXPECT_EQ(RewriteRiffSize(info, {path}, host), std::vector<std::string>{path});
    Bytes expected = original;
    const std::uint32_t size = static_cast<std::uint32_t>(original.size() - 8);
    for (std::size_t i = 0; i < 4; ++i) expected[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(info.riffSize, size);
    EXPECT_EQ(host.lastProgress, 100);
    EXPECT_TRUE(host.messages.empty());
}

TEST(RewriteRiffSize, FileChangedSinceTheAnalysisIsLeftAlone) {
    TempDir dir;
    WavBuilder src = Stereo16(100);
    src.riffSize = 1;
    std::string path = dir.write("changed.wav", src.Build());
    WaveInfo info;
    Analyse(path, info);
    // Shrunk below the RIFF header, and grown: neither gets a size it would not match.
    WriteFile(path, Bytes{'R', 'I', 'F', 'F', 9, 9});
    RecordingHost host;
    EXPECT_EQ(CodeOfFailure([&] { RewriteRiffSize(info, {path}, host); }), "source-changed " + path);
    EXPECT_EQ(ReadFile(path), Bytes({'R', 'I', 'F', 'F', 9, 9}));
    Bytes grown = src.Build();
    grown.push_back(0);
    WriteFile(path, grown);
    EXPECT_EQ(CodeOfFailure([&] { RewriteRiffSize(info, {path}, host); }), "source-changed " + path);
    EXPECT_EQ(ReadFile(path), grown);
    EXPECT_EQ(host.progressCalls, 0);
}

// ---- RewriteSampleRate ------------------------------------------------------

TEST(RewriteSampleRate, WritesRateAndByteRateOnly) {
    TempDir dir;
    WavBuilder src = Stereo16(200, 48000);
    src.beforeFmt = Chunk("junk", Bytes(3, 7));  // the format block is not at 12
    Bytes original = src.Build();
    std::string path = dir.write("rate.wav", original);
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::SetRate));
    const std::size_t at = static_cast<std::size_t>(info.fmtChunkPos);
    ASSERT_EQ(at, 23u);
    const WaveInfo analysed = info;

    struct Case {
        std::string text;
        std::uint32_t rate, avg;
    };
    for (const Case& c : {Case{"44100", 44100, 176400}, Case{"1073741823", 1073741823, 0xFFFFFFFCu}}) {
        RecordingHost host;
        EXPECT_EQ(RewriteSampleRate(info, {path, ParseSampleRate(c.text, info.format.blockAlign)}, host),
                  std::vector<std::string>{path});
        Bytes expected = original;
        for (std::size_t i = 0; i < 4; ++i) {
            expected[at + 12 + i] = static_cast<std::uint8_t>(c.rate >> (8 * i));
            expected[at + 16 + i] = static_cast<std::uint8_t>(c.avg >> (8 * i));
        }
        EXPECT_EQ(ReadFile(path), expected) << c.text;
        EXPECT_EQ(static_cast<std::uint32_t>(info.format.samplesPerSec), c.rate);
        EXPECT_EQ(static_cast<std::uint32_t>(info.format.avgBytesPerSec), c.avg);
        EXPECT_EQ(host.progressCalls, 0);
        EXPECT_TRUE(host.messages.empty());
    }
    // The play time still holds the analysis' values.
    EXPECT_EQ(info.playRemainderFrames, analysed.playRemainderFrames);
}

TEST(RewriteSampleRate, TextThatIsNoIntegerLeavesTheFileUnchanged) {
    TempDir dir;
    Bytes original = Stereo16(200, 48000).Build();
    std::string path = dir.write("rate.wav", original);
    WaveInfo info;
    Analyse(path, info);
    RecordingHost host;
    for (std::string text : {"44.1k", "", "48000 ", "abc"}) {
        EXPECT_EQ(CodeOfFailure([&] { ParseSampleRate(text, info.format.blockAlign); }), "not-integer " + text);
        EXPECT_EQ(ReadFile(path), original) << text;
    }
    EXPECT_EQ(info.format.samplesPerSec, 48000);
    // Leading blanks and hexadecimal are integers.
    RewriteSampleRate(info, {path, ParseSampleRate(" $AC44", info.format.blockAlign)}, host);
    EXPECT_EQ(info.format.samplesPerSec, 44100);
}

TEST(RewriteSampleRate, RatesThatCannotBeStoredAreRefusedAndAStoredZeroCanBeMended) {
    TempDir dir;
    const Bytes original = Stereo16(200, 48000).Build();
    std::string path = dir.write("rate.wav", original);
    WaveInfo info;
    Analyse(path, info);
    RecordingHost host;
    // 1073741824 × 4 bytes a frame is 2^32: the byte rate would wrap.
    // The parser names the rate as typed; the operation, given the number, names the number.
    for (std::string text : {"0", "-1", "-48000", "1073741824", "2147483647", " $40000000"}) {
        EXPECT_EQ(CodeOfFailure([&] { ParseSampleRate(text, info.format.blockAlign); }), "unusable-rate " + text);
        const std::int32_t rate = *TryStrToInt(text);
        EXPECT_EQ(CodeOfFailure([&] {
                      RewriteSampleRate(info, {path, rate}, host);
                  }),
                  "unusable-rate " + std::to_string(rate));
        EXPECT_EQ(ReadFile(path), original) << text;
    }

    // A stored rate of 0 stops the analysis, which then offers the rate
    // rewrite alone; after it the file analyses completely.
    std::string zero = dir.write("zero.wav", Stereo16(200, 0).Build());
    AnalysisResult stopped = AnalyzeWave(zero, info);
    EXPECT_EQ(CodeOf(stopped.failure.value_or("")), "div-by-zero");
    EXPECT_EQ(AllowedOperations(info, stopped), OperationSet{Operation::SetRate});
    RewriteSampleRate(info, {zero, 8000}, host);
    Analyse(zero, info);
    EXPECT_EQ(info.format.avgBytesPerSec, 32000);
    EXPECT_EQ(info.playRemainderFrames, 200);

    // A zero frame size is not what a rate mends: nothing is offered.
    WavBuilder noFrame = Stereo16(20, 48000);
    noFrame.blockAlign = 0;
    const AnalysisResult noVerdict = AnalyzeWave(dir.write("frame.wav", noFrame.Build()), info);
    EXPECT_FALSE(AllowedOperations(info, noVerdict));
}

TEST(RewriteSampleRate, FormatBlockNoLongerInTheFileIsNotWritten) {
    TempDir dir;
    WavBuilder src = Stereo16(20, 48000);
    src.beforeFmt = Chunk("junk", Bytes(40, 0));
    std::string path = dir.write("gone.wav", src.Build());
    WaveInfo info;
    Analyse(path, info);
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(info.fmtChunkPos) + 20);
    RecordingHost host;
    EXPECT_EQ(CodeOfFailure([&] { RewriteSampleRate(info, {path, 44100}, host); }), "source-changed " + path);
    EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(info.fmtChunkPos) + 20);
}

// ---- RemoveFooter -----------------------------------------------------------

TEST(RemoveFooter, PlainSourceLosesItsFooter) {
    TempDir dir;
    WavBuilder src = Stereo16(333);
    src.trailer = ListChunk(26);
    std::string path = dir.write("tagged.wav", src.Build());
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::RemoveFooter));
    const WaveInfo before = info;

    RecordingHost host;
    auto out = RemoveFooter(info, {path, EnsureTrailingSeparator(dir.path())}, host);
    ASSERT_EQ(out, std::vector<std::string>{dir.file("tagged(futta del).wav")});
    EXPECT_EQ(ReadFile(out[0]), Stereo16(333).Build());
    EXPECT_EQ(host.lastProgress, 100);
    EXPECT_EQ(info.riffSize, before.riffSize);
}

TEST(RemoveFooter, CountsOfTwoBlocksAndOneByteMore) {
    TempDir dir;
    for (std::size_t count : {2 * MiB, 2 * MiB + 1}) {
        WavBuilder src;
        src.samples = PatternSamples(count, 1, 1);
        src.channels = 1;
        src.bitsPerSample = 8;
        WavBuilder plain = src;
        if (count % 2 != 0) plain.trailer = {0};  // odd data gets its pad byte
        src.trailer = ListChunk(100);
        std::string path = dir.write("big.wav", src.Build());
        WaveInfo info;
        Analyse(path, info);
        RecordingHost host;
        auto out = RemoveFooter(info, {path, dir.path()}, host);
        EXPECT_EQ(ReadFile(out.at(0)), plain.Build()) << count;
        EXPECT_EQ(host.progressCalls, (count == 2 * MiB ? 2 : 3) + 1) << count;
    }
}

TEST(RemoveFooter, BytesAfterTheListChunkAndAListThatClaimsTooMuchLeaveTheSamplesWhole) {
    TempDir dir;
    const Bytes samples = PatternSamples(250, 2, 2);
    WavBuilder extra = Stereo16(250);  // 7 stray bytes after the LIST chunk
    extra.trailer = ListChunk(10);
    for (int i = 0; i < 7; ++i) extra.trailer.push_back(0xEE);
    WavBuilder claims = Stereo16(250);  // a LIST chunk claiming 60 bytes more than follow
    claims.trailer = Chunk("LIST", Bytes(40, 'x'));
    claims.trailer[4] = 100;
    for (const WavBuilder& b : {extra, claims}) {
        std::string p = dir.write("tagged.wav", b.Build());
        WaveInfo i;
        ASSERT_TRUE(Allowed(i, Analyse(p, i)).contains(Operation::RemoveFooter));
        RecordingHost h;
        EXPECT_EQ(ReadFile(RemoveFooter(i, {p, dir.path()}, h).at(0)), Stereo16(250).Build());
    }
}

TEST(RemoveFooter, OtherHeadersAreCopiedWholeAndDescribeThemselves) {
    TempDir dir;
    WavBuilder src = Stereo16(400);
    src.Extensible(16, 0x3);
    src.beforeFmt = Chunk("junk", Bytes(6, 0x5A));
    WavBuilder plain = src;
    src.trailer = ListChunk(30);
    Bytes original = src.Build();
    std::string path = dir.write("ext.wav", original);
    WaveInfo info;
    ASSERT_TRUE(Allowed(info, Analyse(path, info)).contains(Operation::RemoveFooter));

    RecordingHost host;
    std::string out = RemoveFooter(info, {path, dir.path()}, host).at(0);
    EXPECT_EQ(ReadFile(out), plain.Build());  // the source's own header, its riffSize made true
    WaveInfo again;
    AnalysisResult r = Analyse(out, again);
    EXPECT_TRUE(r.fileSizeOK);
    EXPECT_TRUE(r.footerOK);
}

TEST(RemoveFooter, SourceShorterThanCountedEndsWithTheMessage) {
    TempDir dir;
    // Shrunk after the analysis.
    WavBuilder src = Stereo16(1000);
    src.trailer = ListChunk(20);
    std::string p1 = dir.write("shrunk.wav", src.Build());
    WaveInfo i1;
    Analyse(p1, i1);
    std::filesystem::resize_file(p1, 44 + 100);
    RecordingHost h1;
    EXPECT_EQ(CodeOfFailure([&] { RemoveFooter(i1, {p1, dir.path()}, h1); }), "source-changed " + p1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("shrunk(futta del).wav")));  // no partial copy
    EXPECT_NE(h1.lastProgress, 100);

    // A LIST size so large that it wraps the footer length: the samples are
    // still counted by the data chunk, so the copy is whole.
    WavBuilder wrap = Stereo16(50);
    wrap.trailer = Chunk("LIST", {});
    for (std::size_t i = 4; i < 8; ++i) wrap.trailer[i] = 0xFF;
    wrap.trailer[4] = 0xF0;
    std::string p2 = dir.write("wrap.wav", wrap.Build());
    WaveInfo i2;
    ASSERT_TRUE(Allowed(i2, Analyse(p2, i2)).contains(Operation::RemoveFooter));
    RecordingHost h2;
    EXPECT_EQ(ReadFile(RemoveFooter(i2, {p2, dir.path()}, h2).at(0)), Stereo16(50).Build());
    // The sources and that one output are left in the folder: no temporaries.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

// A format chunk behind the data belongs to the header the outputs copy:
// it follows their samples, and their RIFF size counts it.
TEST(CopiedHeaders, KeepAFormatChunkThatFollowsTheData) {
    const Bytes plain = Stereo16(1500).Build();
    const Bytes fmtChunk(plain.begin() + 12, plain.begin() + 36);
    // The footer removal takes the tag away; normalize takes no file with one.
    for (const Operation op : {Operation::RemoveFooter, Operation::Normalize}) {
        SCOPED_TRACE(OperationName(op));
        Bytes source = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        AppendBytes(source, Chunk("data", Stereo16(1500).samples));
        AppendBytes(source, fmtChunk);
        if (op == Operation::RemoveFooter) AppendBytes(source, ListChunk(10));
        const auto riff = static_cast<std::uint32_t>(source.size() - 8);
        for (std::size_t i = 0; i < 4; ++i) source[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        TempDir dir;
        Subject s;
        s.path = dir.write("late fmt.wav", source);
        s.result = Analyse(s.path, s.info);
        ASSERT_EQ(RuleVerdict(op, s.info, s.result).code, Reason::None);
        RecordingHost host;
        const std::vector<std::string> out = RecordOf(op).run(s, host);
        ASSERT_EQ(out.size(), 1u);
        const Bytes written = ReadFile(out[0]);
        ASSERT_EQ(written.size(), 44u + 6000);
        EXPECT_EQ(Slice(written, written.size() - fmtChunk.size(), fmtChunk.size()), fmtChunk);
        EXPECT_EQ(ReadU32(written, 4), written.size() - 8);
        WaveInfo again;
        EXPECT_TRUE(Analyse(out[0], again).footerOK);
        EXPECT_EQ(again.listFooterSize, 0u);
    }
}
