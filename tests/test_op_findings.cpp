// Regression tests for what fuzzing the operations found (docs/robustness.md
// lists each finding with the test that guards it).
#include <gtest/gtest.h>

#include "error_of.h"
#include "ops/normalize.h"
#include "ops/operations.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/second_blocks.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "ops_fixture.h"
#include "wav/error.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

class NullView : public PeakListView {
public:
    void showList() override { shown = true; }
    void clearRows() override {}
    void addRow(int, int, int) override {}
    void addFloatRow(int, int, double) override {}
    void setLabel(const std::string&) override {}
    void hide() override {}
    bool shown = false;
};

// A 16-bit stereo file whose header claims another frame size.
Bytes StereoClaiming(std::uint16_t blockAlign, std::size_t sampleBytes, std::uint16_t fmtSize = 16) {
    WavBuilder b;
    b.samplesPerSec = 8;
    b.blockAlign = blockAlign;
    b.fmtSize = fmtSize;
    b.samples = PatternSamples(sampleBytes / 4 + 1, 2, 2);
    b.samples.resize(sampleBytes);
    return b.Build();
}

}  // namespace

// Finding 1: a frame larger than the whole data left the split's block
// buffers empty, yet it pointed into them (undefined behaviour), and the
// headers promised dataSize / channels bytes that were never written.
TEST(OperationFindings, SplitOfDataShorterThanOneFrameWritesEmptyFilesThatSaySo) {
    TempDir dir;
    const std::string src = dir.write("wide.wav", StereoClaiming(1024, 80));
    WaveInfo info = Analysed(src);
    RecordingHost host;
    auto paths = ChannelSplit(info, {src, dir.path()}, host);
    ASSERT_EQ(paths.size(), 2u);
    for (const auto& p : paths) {
        Bytes out = ReadFile(p);
        ASSERT_EQ(out.size(), 44u);
        EXPECT_EQ(ReadU32(out, 4), 36u);
        EXPECT_EQ(ReadU32(out, 40), 0u);
        EXPECT_EQ(ReadU16(out, 32), 512u);
    }
}

// Finding 2: a dataSize ending inside a frame made the split's headers count
// bytes of the partial frame that no file received.
TEST(OperationFindings, SplitHeadersCountTheWholeFramesWritten) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 8;
    b.samples = PatternSamples(21, 2, 2);
    b.samples.resize(b.samples.size() + 3, 0xEE);
    const std::string src = dir.write("partial.wav", b.Build());
    WaveInfo info = Analysed(src);
    RecordingHost host;
    for (const auto& p : ChannelSplit(info, {src, dir.path()}, host)) {
        Bytes out = ReadFile(p);
        EXPECT_EQ(ReadU32(out, 40), 21u * 2);
        EXPECT_EQ(out.size(), 44u + 21 * 2);
        EXPECT_EQ(ReadU32(out, 4) + 8, out.size());
    }
}

// Finding 3: 16-bit stereo with a blockAlign other than 4 counts its play time
// in frames the surround, the normalisation and the rebuild do not move, so
// their outputs could never hold what their headers said (a blockAlign of
// 255 wrote a surround file of header alone claiming 160 bytes of data).
// Such headers are now refused before anything is written.
TEST(OperationFindings, SixteenBitStereoOperationsRefuseAnotherFrameSize) {
    TempDir dir;
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);
    for (std::uint16_t align : {2, 8, 255}) {
        SCOPED_TRACE(align);
        const std::string src = dir.write("odd.wav", StereoClaiming(align, 80));
        WaveInfo info = Analysed(src);
        RecordingHost host;
        EXPECT_EQ(CodeOfFailure([&] { PseudoSurround(info, {src, out}, host); }), "unusable-layout");
        NullView view;
        EXPECT_EQ(CodeOfFailure([&] { Normalize(info, {src, out}, view, host); }), "unusable-layout");
        EXPECT_FALSE(view.shown);

        const std::string src18 = dir.write("odd18.wav", StereoClaiming(align, 80, 18));
        WaveInfo info18 = Analysed(src18);
        EXPECT_EQ(CodeOfFailure([&] { RebuildHeader(info18, {src18, out}, host); }), "unusable-layout");
        EXPECT_TRUE(FilesIn(out).empty());
    }
    // A rebuild of a header without a usable rate is refused the same way.
    WavBuilder b;
    b.fmtSize = 18;
    b.samplesPerSec = static_cast<std::uint32_t>(-8);
    b.samples = PatternSamples(20, 2, 2);
    const std::string negative = dir.write("negative.wav", b.Build());
    WaveInfo info = Analysed(negative);
    RecordingHost host;
    EXPECT_EQ(CodeOfFailure([&] { RebuildHeader(info, {negative, out}, host); }), "unusable-layout");
    EXPECT_TRUE(FilesIn(out).empty());
}

// Finding 4: a dataSize ending inside a 4-byte frame gave a surround file and
// a normalized copy shorter than their headers. The surround output now holds
// the whole frames alone and its header counts just those; the normalized
// copy ends with the source's own bytes of the partial frame.
TEST(OperationFindings, PartialLastFrameIsPartOfTheOutput) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 8;
    b.samples = Pcm16({100, -100, 200, -200, 300, -300, 1000, -1000, 50, 60});
    b.samples.pop_back();  // 4 frames and 3 bytes
    const Bytes source = b.Build();
    const std::string src = dir.write("p.wav", source);
    WaveInfo info = Analysed(src);
    RecordingHost host;
    host.answer = true;
    for (bool ext : {true, false}) {
        SurroundOptions o{src, dir.path(), 0, false, ext ? SurroundHeader::Extensible : SurroundHeader::Plain, false};
        Bytes out = ReadFile(PseudoSurround(info, o, host).at(0));
        const std::size_t header = ext ? 68 : 44;
        // Four frames of 8 or 12 bytes; the 3 bytes after them are left out.
        ASSERT_EQ(out.size(), header + (ext ? 8 : 12) * 4u);
        EXPECT_EQ(ReadU32(out, 4) + 8, out.size());
        EXPECT_EQ(ReadU32(out, header - 4), (ext ? 8 : 12) * 4u);
    }
    NullView view;
    Bytes norm = ReadFile(Normalize(info, {src, dir.path()}, view, host).at(0));
    // The odd data gets its pad byte, and the RIFF size counts it.
    ASSERT_EQ(norm.size(), source.size() + 1);
    EXPECT_EQ(ReadU32(norm, 4) + 8, norm.size());
    EXPECT_EQ(Slice(norm, 8, 36), Slice(source, 8, 36));
    EXPECT_EQ(Slice(norm, 44 + 16, 3), Slice(source, 44 + 16, 3));
    EXPECT_EQ(norm.back(), 0);
    const auto peak = static_cast<std::int16_t>(1000 * static_cast<double>(NormalizeGain(1000)));
    EXPECT_EQ(ReadU16(norm, 44 + 12), static_cast<std::uint16_t>(peak));  // the peak, scaled
}

namespace {

// A stereo file whose format chunk holds only `body` bytes of its fields;
// the data chunk follows right after them.
Bytes ShortFormat(std::uint32_t body, std::uint32_t rate) {
    WavBuilder b;
    b.samplesPerSec = rate;
    b.samples = PatternSamples(100, 2, 2);
    Bytes bytes = b.Build();
    bytes.erase(bytes.begin() + 20 + body, bytes.begin() + 36);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[16 + i] = static_cast<std::uint8_t>(body >> (8 * i));
        bytes[4 + i] = static_cast<std::uint8_t>((bytes.size() - 8) >> (8 * i));
    }
    return bytes;
}

}  // namespace

// Safety probe: set-rate wrote the byte rate over the "data" id of a file
// whose format chunk is 8 bytes, and recover left such a file unreadable.
// A short format chunk is now no field of any patch, whatever a front end
// lets through.
TEST(OperationFindings, AShortFormatChunkIsNeverPatched) {
    const struct { std::uint32_t body, rate; } cases[] = {{8, 44100}, {8, 0}, {12, 44100}, {14, 0}, {15, 44100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.body) + " bytes, rate " + std::to_string(c.rate));
        TempDir dir;
        const Bytes original = ShortFormat(c.body, c.rate);
        const std::string src = dir.write("short.wav", original);
        WaveInfo info;
        const AnalysisResult r = AnalyzeWave(src, info);
        EXPECT_TRUE(r.formatTooShort);
        EXPECT_FALSE(info.rateRewriteOnly);
        const std::optional<OperationSet> allowed = AllowedOperations(info, r);
        if (allowed) {
            for (Operation op : kAllOperations) {
                if (op != Operation::FixRiffSize) {
                    EXPECT_FALSE(allowed->contains(op)) << OperationName(op);
                }
            }
        }
        EXPECT_EQ(WhyNotCode(WhyNotOffered(info, r), Operation::SetRate), Reason::FormatTooShort);
        // Past the gate, as a careless front end would call them.
        RecordingHost host;
        info.analysisComplete = true;
        EXPECT_NE(ErrorOf([&] { RewriteSampleRate(info, {src, 48000}, host); }), "(no error)");
        info.format.fmtSize = 16;  // even with the size misread
        EXPECT_NE(ErrorOf([&] { RewriteSampleRate(info, {src, 48000}, host); }), "(no error)");
        info.format.fmtSize = static_cast<std::int32_t>(c.body);
        EXPECT_NE(ErrorOf([&] { RecoverDataSize(info, {src}, host); }), "(no error)");
        EXPECT_EQ(ReadFile(src), original);
    }
}

// Safety probe: past the walk's 100,000 chunks the byte search looked at
// every chunk body for every byte (22.7 s for 100,010 empty chunks). Each
// byte is now looked at once; the format and data chunks are still found.
TEST(OperationFindings, TheByteSearchPastTheChunkLimitFindsFormatAndData) {
    for (std::uint32_t body : {0u, 100u}) {
        SCOPED_TRACE(body);
        TempDir dir;
        WavBuilder b;
        b.samples = PatternSamples(100, 2, 2);
        const Bytes junk = Chunk("JUNK", Bytes(body, 0));
        for (int i = 0; i < 100010; ++i) AppendBytes(b.beforeFmt, junk);
        const std::string src = dir.write("many.wav", b.Build());
        WaveInfo info;
        const AnalysisResult r = AnalyzeWave(src, info);
        EXPECT_TRUE(r.complete());
        EXPECT_EQ(info.fmtChunkPos, 12 + 100010 * static_cast<std::int64_t>(junk.size()));
        EXPECT_EQ(info.dataChunkPos, info.fmtChunkPos + 24);
        EXPECT_EQ(info.dataSize, 400u);
    }
}

// Fuzzing (operations target): in a broken chain the byte search found a
// format chunk and, inside its body, the "data" id; set-rate then wrote the
// rate over the data chunk's header. Neither patch is offered there now, and
// neither writes when called.
TEST(OperationFindings, AFormatChunkThatHoldsTheDataHeaderIsNeverPatched) {
    Bytes b;
    Append(b, "RIFF");
    AppendU32(b, 0);
    Append(b, "WAVE");
    AppendBytes(b, {0x01, 0x00, 0x00, 0xdd});  // no chunk: the chain breaks here
    AppendBytes(b, Bytes(24, 'j'));
    Append(b, "fmt ");
    AppendU32(b, 16);
    AppendBytes(b, {0x01, 0x00, 0x02});
    Append(b, "data");  // inside the format chunk's body
    AppendU32(b, 8);
    AppendBytes(b, Bytes(8, 0x01));
    for (std::size_t i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>((b.size() - 8) >> (8 * i));
    TempDir dir;
    const std::string src = dir.write("overlap.wav", b);
    WaveInfo info;
    const AnalysisResult r = AnalyzeWave(src, info);
    ASSERT_TRUE(r.complete());
    ASSERT_EQ(info.dataChunkPos, info.fmtChunkPos + 11);
    const OperationReasons why = WhyNotOffered(info, r);
    EXPECT_EQ(WhyNotCode(why, Operation::SetRate), Reason::ChunksOverlap);
    RecordingHost host;
    EXPECT_EQ(CodeOfFailure([&] { RewriteSampleRate(info, {src, 48000}, host); }), "chunks-overlap");
    EXPECT_EQ(CodeOfFailure([&] { RecoverDataSize(info, {src}, host); }), "chunks-overlap");
    EXPECT_EQ(ReadFile(src), b);
}
