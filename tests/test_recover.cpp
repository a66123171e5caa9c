// Recovery of unfinalized recordings: which files are offered it, the two
// size fields it writes and nothing else, and the CLI verb.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "error_of.h"
#include "ops/recover.h"
#include "ops_fixture.h"
#include "allowed.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Stereo 16-bit, 250 frames, with an optional trailer and declared size.
struct Case {
    const char* name;
    std::optional<std::uint32_t> dataSize;  // declared; default the real size
    Bytes trailer;
    std::size_t extraSampleBytes;  // a partial frame after the whole ones
    bool recovered;                // else healthy: untouched
    std::size_t expectedTrailer;   // trailer bytes left outside the data
};

Bytes Id3(std::uint32_t size) { return Chunk("id3 ", Bytes(size, 'i')); }

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes r = a;
    AppendBytes(r, b);
    return r;
}

std::vector<Case> Cases() {
    Bytes padded = Id3(5);
    padded.push_back(0);  // pad byte after an odd size
    Bytes notAChunk = Chunk("LIST", Bytes(10, 'x'));
    notAChunk[4] = 99;  // its size runs past the end: sample data after all
    return {
        {"zero", 0u, {}, 0, true, 0},
        {"all ones, partial frame", 0xFFFFFFFFu, {}, 3, true, 0},
        {"claims more, LIST after", 4000u, ListChunk(26), 0, true, 34},
        {"zero, padded id3", 0u, padded, 0, true, padded.size()},
        {"zero, LIST then id3", 0u, Join(ListChunk(12), Id3(30)), 0, true, 20 + 38},
        {"zero, no chunk at the end", 0u, notAChunk, 0, true, 0},
        {"healthy", std::nullopt, {}, 0, false, 0},
        {"healthy with LIST footer", std::nullopt, ListChunk(26), 0, false, 0},
    };
}

WavBuilder Recording(const Case& c) {
    WavBuilder b;
    b.samplesPerSec = 1000;
    b.samples = PatternSamples(250, 2, 2);
    b.samples.resize(b.samples.size() + c.extraSampleBytes, 0x11);
    b.trailer = c.trailer;
    b.dataSize = c.dataSize;
    return b;
}

}  // namespace

TEST(Recover, PatchesOnlyTheTwoSizesOfUnfinalizedRecordings) {
    TempDir dir;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const Bytes original = Recording(c).Build();
        const std::string path = dir.write("rec.wav", original);
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(path, info);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ(Allowed(info, r).contains(Operation::Recover), c.recovered);

        TraceHost host;
        const auto paths = RecoverDataSize(info, {path}, host);
        const Bytes after = ReadFile(path);
        if (!c.recovered) {
            EXPECT_TRUE(paths.empty());
            EXPECT_EQ(CodesOf(host.messages), std::vector<std::string>{"data-size-right"});
            EXPECT_EQ(after, original);
            continue;
        }
        EXPECT_EQ(paths, std::vector<std::string>{path});
        EXPECT_TRUE(host.messages.empty());
        const std::uint32_t wantData = static_cast<std::uint32_t>(original.size() - 44 - c.expectedTrailer) / 4 * 4;
        EXPECT_EQ(ReadU32(after, 4), original.size() - 8);
        EXPECT_EQ(ReadU32(after, 40), wantData);
        Bytes rest = after;
        for (std::size_t i : {4u, 5u, 6u, 7u, 40u, 41u, 42u, 43u}) rest[i] = original[i];
        EXPECT_EQ(rest, original);
        EXPECT_EQ(info.dataSize, wantData);

        // The repaired file reads as a finished one, its trailer as what follows.
        WaveInfo again;
        AnalysisResult a = AnalyzeWave(path, again);
        EXPECT_TRUE(a.fileSizeOK);
        EXPECT_FALSE(Allowed(info, a).contains(Operation::Recover));
        if (c.trailer.empty() && c.extraSampleBytes == 0) {
            EXPECT_TRUE(a.footerOK);
        }
    }
}

TEST(Recover, CliVerbAndInfoKey) {
    TempDir dir;
    const auto cases = Cases();
    const std::string broken = dir.write("broken.wav", Recording(cases[0]).Build());
    const std::string healthy = dir.write("healthy.wav", Recording(cases[6]).Build());
    CliRun info = RunCli("info --jsonl " + Quote(broken) + " " + Quote(healthy), dir);
    auto lines = Lines(info.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(nlohmann::json::parse(lines[0])["enabled"]["recover"].get<bool>());
    EXPECT_FALSE(nlohmann::json::parse(lines[1])["enabled"]["recover"].get<bool>());

    CliRun r = RunCli("recover " + Quote(broken) + " " + Quote(healthy), dir);
    EXPECT_EQ(r.status, 0);  // the healthy file needs nothing: a note, not a failure
    EXPECT_EQ(r.out, broken + "\n");
    EXPECT_NE(r.err.find("nothing to do (data-size-right)"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(healthy), Recording(cases[6]).Build());
    EXPECT_EQ(ReadU32(ReadFile(broken), 40), 1000u);
    EXPECT_EQ(RunCli("recover " + Quote(broken), dir).status, 0);  // nothing left to do
}

// A sound data size is not the whole verdict: a RIFF size left behind (the
// data size written, the run stopped before the RIFF size) is finished, while
// a RIFF size that ends at the data, before a footer, is a writer's choice.
TEST(Recover, ASoundDataSizeWithAStaleRiffSizeIsFinished) {
    const struct {
        const char* name;
        std::uint32_t riffSize;  // 0 for the right one
        bool patched;
    } cases[] = {{"stale", 36, true}, {"ends at the data", 36 + 1000, false}, {"right", 0, false}};
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavBuilder b = Recording(Cases()[7]);  // healthy, LIST footer
        if (c.riffSize != 0) b.riffSize = c.riffSize;
        const Bytes original = b.Build();
        const std::string path = dir.write("rec.wav", original);
        WaveInfo info;
        ASSERT_TRUE(AnalyzeWave(path, info).complete());
        TraceHost host;
        EXPECT_EQ(RecoverDataSize(info, {path}, host).size(), c.patched ? 1u : 0u);
        Bytes want = original;
        if (c.patched)
            for (std::size_t i = 0; i < 4; ++i)
                want[4 + i] = static_cast<std::uint8_t>((original.size() - 8) >> (8 * i));
        EXPECT_EQ(ReadFile(path), want);
    }
}

// A recording ffmpeg streamed as RF64 counts no frames in its ds64 chunk
// until it is finalized; the recovery sets the count with the sizes, for
// a-law (a byte a sample) as for PCM.
TEST(Recover, AnUnfinalizedRf64GetsItsFrameCount) {
    for (const auto& [codec, frameBytes] : {std::pair{"pcm_s16le", 4u}, std::pair{"pcm_alaw", 2u}}) {
        SCOPED_TRACE(codec);
        TempDir dir;
        const std::string path = dir.file("stream.wav");
        ASSERT_EQ(RunShell(std::string("ffmpeg -v error -f lavfi -i sine=d=1:sample_rate=48000 -ac 2 -c:a ") + codec +
                               " -rf64 always -f wav - > " + Quote(path),
                           dir)
                      .status,
                  0);
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(path, info);
        ASSERT_TRUE(r.complete());
        ASSERT_TRUE(info.rf64);
        EXPECT_EQ(r.dataState, DataSizeState::Unfinalized);
        TraceHost host;
        ASSERT_EQ(RecoverDataSize(info, {path}, host), std::vector<std::string>{path});
        const Bytes after = ReadFile(path);
        EXPECT_EQ(ReadU32(after, 28) | std::uint64_t{ReadU32(after, 32)} << 32, 48000u * frameBytes);  // data size
        EXPECT_EQ(ReadU32(after, 36) | std::uint64_t{ReadU32(after, 40)} << 32, 48000u);               // frames
        const CliRun read = RunShell("sndfile-info " + Quote(path), dir);
        EXPECT_EQ(read.out.find("does not match"), std::string::npos) << read.out;
        EXPECT_NE(read.out.find("Frames      : 48000"), std::string::npos) << read.out;
    }
}
