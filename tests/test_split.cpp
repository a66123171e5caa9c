#include <gtest/gtest.h>

#include <filesystem>

#include "io/paths.h"
#include "ops/split.h"
#include "error_of.h"
#include "ops_fixture.h"
#include "wav/error.h"
#include "wav/text.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Channel c of every frame: `width` bytes at c × width within each frame.
Bytes ChannelOf(const Bytes& samples, std::size_t frameBytes, std::size_t width, std::size_t c) {
    Bytes out;
    for (std::size_t f = 0; f + frameBytes <= samples.size(); f += frameBytes)
        out.insert(out.end(), samples.begin() + static_cast<long>(f + c * width),
                   samples.begin() + static_cast<long>(f + c * width + width));
    return out;
}

std::vector<std::string> Split(const std::string& path, const std::string& folder, TraceHost& host) {
    WaveInfo info = Analysed(path);
    return ChannelSplit(info, {path, folder}, host);
}

}  // namespace

TEST(ChannelSplit, StereoTwoSecondsAnd100FramesHeadersSamplesLogAndGauge) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 48000;
    b.samples = PatternSamples(2 * 48000 + 100, 2, 2);
    std::string src = dir.write("song.wav", b.Build());
    TraceHost host;
    // The folder without a final separator still holds the outputs.
    auto paths = Split(src, dir.path(), host);
    ASSERT_EQ(paths, (std::vector<std::string>{dir.file("song(Left)(0).wav"), dir.file("song(Right)(1).wav")}));
    EXPECT_EQ(host.logLines, (std::vector<std::string>{"書込中: " + paths[0], "書込中: " + paths[1], "終わり"}));
    // One pass over the source for both files: the gauge runs once.
    EXPECT_EQ(host.gauge, (std::vector<int>{0, 50, 100}));
    EXPECT_EQ(host.pumps, 2);

    const std::uint32_t dataSize = static_cast<std::uint32_t>(b.samples.size());
    for (std::size_t c = 0; c < 2; ++c) {
        Bytes out = ReadFile(paths[c]);
        ASSERT_EQ(out.size(), 44u + 96100u * 2);
        EXPECT_EQ(Slice(out, 0, 4), (Bytes{'R', 'I', 'F', 'F'}));
        EXPECT_EQ(ReadU32(out, 4), dataSize / 2 + 36);
        EXPECT_EQ(ReadU32(out, 16), 16u);  // fmtSize
        EXPECT_EQ(ReadU16(out, 20), 1u);   // formatTag
        EXPECT_EQ(ReadU16(out, 22), 1u);   // channels
        EXPECT_EQ(ReadU32(out, 24), 48000u);
        EXPECT_EQ(ReadU32(out, 28), 48000u * 2);  // avgBytesPerSec / channels
        EXPECT_EQ(ReadU16(out, 32), 2u);
        EXPECT_EQ(ReadU16(out, 34), 16u);
        EXPECT_EQ(ReadU32(out, 40), dataSize / 2);
        EXPECT_EQ(Slice(out, 44, out.size() - 44), ChannelOf(b.samples, 4, 2, c)) << "channel " << c;
    }
}

TEST(ChannelSplit, EightBitFourChannelsWholeSecondsNeverShow100) {
    TempDir dir;
    WavBuilder b;
    b.channels = 4;
    b.bitsPerSample = 8;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(3 * 8000, 4, 1);
    std::string src = dir.write("q.wav", b.Build());
    TraceHost host;
    auto paths = Split(src, EnsureTrailingSeparator(dir.path()), host);
    ASSERT_EQ(paths.size(), 4u);
    const char* names[] = {"Left", "Right", "S-Left", "S-Right"};
    for (std::size_t c = 0; c < 4; ++c) {
        EXPECT_EQ(paths[c], dir.file(std::string("q(") + names[c] + ")(" + std::to_string(c) + ").wav"));
        Bytes out = ReadFile(paths[c]);
        EXPECT_EQ(ReadU16(out, 32), 1u);
        EXPECT_EQ(ReadU16(out, 34), 8u);
        EXPECT_EQ(ReadU32(out, 28), 8000u);
        EXPECT_EQ(Slice(out, 44, out.size() - 44), ChannelOf(b.samples, 4, 1, c));
    }
    EXPECT_EQ(host.gauge, (std::vector<int>{0, 33, 66}));
}

TEST(ChannelSplit, ExtensibleSixChannelsNamedByOwnMaskShorterThanASecond) {
    TempDir dir;
    WavBuilder b;
    b.channels = 6;
    b.samplesPerSec = 8000;
    b.Extensible(16, 0x60F);
    b.samples = PatternSamples(700, 6, 2);
    std::string src = dir.write("x.wav", b.Build());
    TraceHost host;
    auto paths = Split(src, dir.path(), host);
    const char* names[] = {"Left", "Right", "Center", "LFE", "Side Left", "Side Right"};
    ASSERT_EQ(paths.size(), 6u);
    for (std::size_t c = 0; c < 6; ++c) {
        EXPECT_EQ(paths[c], dir.file(std::string("x(") + names[c] + ")(" + std::to_string(c) + ").wav"));
        Bytes out = ReadFile(paths[c]);
        EXPECT_EQ(ReadU32(out, 16), 16u);
        EXPECT_EQ(ReadU16(out, 20), 1u);
        EXPECT_EQ(ReadU32(out, 40), 700u * 12 / 6);
        EXPECT_EQ(Slice(out, 44, out.size() - 44), ChannelOf(b.samples, 12, 2, c));
    }
    // Only the remainder block: 100 once, and no messages run.
    EXPECT_EQ(host.gauge, std::vector<int>{100});
    EXPECT_EQ(host.pumps, 0);
}

TEST(ChannelSplit, MaskNamesAndUnnamedLayoutsRefusedBeforeAnyFile) {
    EXPECT_EQ(SplitSpeakerNames(0, 6),
              (std::vector<std::string>{"Left", "Right", "Center", "LFE", "S-Left", "S-Right"}));
    // More set bits than channels: the lowest ones; bits past 17 name nothing.
    EXPECT_EQ(SplitSpeakerNames(0x33, 2), (std::vector<std::string>{"Left", "Right"}));
    EXPECT_THROW(SplitSpeakerNames(0xC0003, 4), VelmoraError);
    EXPECT_THROW(SplitSpeakerNames(0x3, 6), VelmoraError);

    for (int channels : {9, 10}) {
        TempDir dir;
        WavBuilder b;
        b.channels = static_cast<std::uint16_t>(channels);
        b.samplesPerSec = 8000;
        b.samples = PatternSamples(100, channels, 2);
        std::string src = dir.write("m.wav", b.Build());
        TraceHost host;
        try {
            Split(src, dir.path(), host);
            ADD_FAILURE() << channels << " channels were split";
        } catch (const VelmoraError& e) {
            EXPECT_EQ(CodeOf(e.what()), "unknown-layout");
        }
        EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"m.wav"});
        EXPECT_TRUE(host.logLines.empty());
    }
}

// Without a mask, 3, 5, 7 and 8 channels take their usual layouts too.
TEST(ChannelSplit, UsualLayoutsNameTheChannelsOfFilesWithoutAMask) {
    const struct {
        std::uint16_t channels;
        std::vector<std::string> names;
    } cases[] = {
        {3, {"Left", "Right", "Center"}},
        {5, {"Left", "Right", "Center", "S-Left", "S-Right"}},
        {7, {"Left", "Right", "Center", "LFE", "Back-Center", "Side Left", "Side Right"}},
        {8, {"Left", "Right", "Center", "LFE", "S-Left", "S-Right", "Side Left", "Side Right"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        TempDir dir;
        WavBuilder b;
        b.channels = c.channels;
        b.samplesPerSec = 8000;
        b.samples = PatternSamples(1000, c.channels, 2);
        TraceHost host;
        const auto paths = Split(dir.write("m.wav", b.Build()), dir.path(), host);
        ASSERT_EQ(paths.size(), c.names.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(paths[i], dir.file("m(" + c.names[i] + ")(" + std::to_string(i) + ").wav"));
            const Bytes out = ReadFile(paths[i]);
            EXPECT_EQ(Slice(out, 44, out.size() - 44), ChannelOf(b.samples, 2u * c.channels, 2, i)) << i;
        }
    }
}

TEST(ChannelSplit, AnOutputThatCannotBeCreatedLeavesNoFile) {
    TempDir dir;
    WavBuilder b;
    b.channels = 4;
    b.samplesPerSec = 100;
    b.samples = PatternSamples(250, 4, 2);
    std::string src = dir.write("q.wav", b.Build());
    // The third output's name is taken by a folder.
    const std::string blocked = dir.file("q(S-Left)(2).wav");
    std::filesystem::create_directory(blocked);
    TraceHost host;
    try {
        Split(src, dir.path(), host);
        ADD_FAILURE() << "the split went through";
    } catch (const VelmoraError& e) {
        EXPECT_EQ(CodeOf(e.what()), "cannot-create " + blocked);
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"q(S-Left)(2).wav", "q.wav"}));
    EXPECT_EQ(host.logLines,
              (std::vector<std::string>{"書込中: " + dir.file("q(Left)(0).wav"),
                                        "書込中: " + dir.file("q(Right)(1).wav"), "書込中: " + blocked}));
    EXPECT_TRUE(host.gauge.empty());
}

TEST(ChannelSplit, OddSampleWidthCopiesWholeSamples) {
    // blockAlign 6 for two channels: three bytes a sample, copied as they are.
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.blockAlign = 6;
    b.samples = PatternSamples(8000 + 5, 2, 3);
    std::string src = dir.write("odd.wav", b.Build());
    TraceHost host;
    auto paths = Split(src, dir.path(), host);
    ASSERT_EQ(paths.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
        Bytes out = ReadFile(paths[c]);
        EXPECT_EQ(ReadU16(out, 32), 3u);
        // 8005 samples of 3 bytes: odd data, then its pad byte.
        const Bytes want = ChannelOf(b.samples, 6, 3, c);
        ASSERT_EQ(out.size(), 44 + want.size() + 1);
        EXPECT_EQ(ReadU32(out, 40), want.size());
        EXPECT_EQ(ReadU32(out, 4), out.size() - 8);
        EXPECT_EQ(Slice(out, 44, want.size()), want);
        EXPECT_EQ(out.back(), 0);
    }
}

TEST(ChannelSplit, FileShortenedAfterAnalysisIsRefusedWithNoOutput) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(3 * 8000 + 10, 2, 2);
    Bytes file = b.Build();
    std::string src = dir.write("s.wav", file);
    WaveInfo info = Analysed(src);
    const std::size_t keptFrames = 8000 + 4000;  // the second block half there, the rest not at all
    WriteFile(src, Slice(file, 0, 44 + keptFrames * 4));
    TraceHost host;
    // Neither silence nor stale audio in place of the missing frames: no split.
    EXPECT_EQ(CodeOfFailure([&] { ChannelSplit(info, {src, dir.path()}, host); }), "source-changed " + src);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"s.wav"});
}

TEST(ChannelSplit, EmptyFieldDoesNothingAndOnlyTheAnalysedFileIsSplit) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(100, 2, 2);
    std::string src = dir.write("a.wav", b.Build());
    std::string other = dir.write("b.wav", b.Build());
    WaveInfo info = Analysed(src);
    TraceHost host;
    EXPECT_TRUE(ChannelSplit(info, {"", dir.path()}, host).empty());
    EXPECT_THROW(ChannelSplit(info, {other, dir.path()}, host), VelmoraError);
    WaveInfo broken;
    AnalyzeWave(dir.write("c.wav", Bytes{'R', 'I', 'F'}), broken);
    EXPECT_THROW(ChannelSplit(broken, {dir.file("c.wav"), dir.path()}, host), VelmoraError);
    EXPECT_TRUE(host.logLines.empty());
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
}

TEST(ChannelSplit, AgreesWithSoxRemix) {
    if (!HasTool("sox")) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    std::string src = dir.file("six.wav");
    std::string cmd = "sox -n -r 8000 -c 6 -b 16 '" + src +
                      "' synth 1.3 sine 100 sine 230 square 310 sine 470 sawtooth 530 sine 690 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    TraceHost host;
    auto paths = Split(src, dir.path(), host);
    ASSERT_EQ(paths.size(), 6u);
    for (std::size_t c = 0; c < 6; ++c) {
        std::string ref = dir.file("ref" + std::to_string(c) + ".wav");
        std::string remix = "sox '" + src + "' -b 16 '" + ref + "' remix " + std::to_string(c + 1) + " 2>/dev/null";
        ASSERT_EQ(std::system(remix.c_str()), 0);
        WaveInfo refInfo = Analysed(ref);
        Bytes want = ReadFile(ref);
        want = Slice(want, static_cast<std::size_t>(refInfo.dataChunkPos) + 8, refInfo.dataSize);
        Bytes out = ReadFile(paths[c]);
        ASSERT_EQ(out.size() - 44, want.size()) << "channel " << c;
        EXPECT_EQ(Slice(out, 44, out.size() - 44), want) << "channel " << c;
    }
}
