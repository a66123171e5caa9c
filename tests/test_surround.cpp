#include <gtest/gtest.h>

#include <functional>

#include "io/paths.h"
#include "error_of.h"
#include "ops/option_text.h"
#include "ops/surround.h"
#include "ops_fixture.h"
#include "wav/error.h"

using namespace velmora;
using namespace velmora::test;

namespace {

struct Source {
    std::string path;
    Bytes samples;  // 16-bit stereo, 4 bytes a frame
    WavBuilder builder;
};

Source MakeSource(const TempDir& dir, std::uint32_t rate, std::size_t frames, const std::string& name = "song.wav") {
    Source s;
    s.builder.samplesPerSec = rate;
    s.builder.samples = PatternSamples(frames, 2, 2);
    s.samples = s.builder.samples;
    s.path = dir.write(name, s.builder.Build());
    return s;
}

// What the output's sample data must be: front = source frame n, rear =
// source frame n − delay (exchanged on swap), silence before it; in the
// plain layout channels 3 and 4 are silent.
Bytes Expected(const Bytes& src, std::size_t delay, bool swap, bool plain) {
    const std::size_t frames = src.size() / 4;
    const std::size_t outFrame = plain ? 12 : 8;
    const std::size_t rear = plain ? 8 : 4;
    Bytes out(frames * outFrame, 0);
    for (std::size_t n = 0; n < frames; ++n) {
        std::copy_n(src.begin() + static_cast<long>(n * 4), 4, out.begin() + static_cast<long>(n * outFrame));
        if (n < delay) continue;
        const std::uint8_t* s = src.data() + (n - delay) * 4;
        std::uint8_t* r = out.data() + n * outFrame + rear;
        if (swap) {
            r[0] = s[2];
            r[1] = s[3];
            r[2] = s[0];
            r[3] = s[1];
        } else {
            std::copy_n(s, 4, r);
        }
    }
    return out;
}

SurroundOptions Options(const Source& s, const std::string& folder, std::int32_t delayMs = 200) {
    SurroundOptions o;
    o.source = s.path;
    o.outputFolder = folder;
    o.delayMs = delayMs;
    return o;
}

}  // namespace

TEST(PseudoSurround, DelayTextAndRangeChecksComeFirst) {
    EXPECT_EQ(ParseSurroundDelay(" 200"), 200);
    EXPECT_EQ(ParseSurroundDelay("0200"), 200);
    EXPECT_EQ(ParseSurroundDelay("0"), 0);
    EXPECT_EQ(ParseSurroundDelay("1000"), 1000);
    for (const char* bad : {"200 ", "abc", ""})
        EXPECT_EQ(ErrorOf([&] { ParseSurroundDelay(bad); }), std::string("'") + bad + "' は整数ではありません");
    for (const char* out : {"1001", "-1"}) EXPECT_EQ(CodeOfFailure([&] { ParseSurroundDelay(out); }), "delay-range");

    // Checked before the source: an empty source with a bad delay still fails.
    TempDir dir;
    Source s = MakeSource(dir, 8000, 100);
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    SurroundOptions o = Options(s, dir.path(), 1001);
    o.source = "";
    EXPECT_EQ(CodeOfFailure([&] { PseudoSurround(info, o, host); }), "delay-range");
    o.delayMs = 200;
    EXPECT_TRUE(PseudoSurround(info, o, host).empty());
    o = Options(s, dir.path(), -1);
    EXPECT_EQ(CodeOfFailure([&] { PseudoSurround(info, o, host); }), "delay-range");
    EXPECT_TRUE(host.logLines.empty());
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"song.wav"});
}

TEST(PseudoSurround, DelayFramesInSinglePrecision) {
    EXPECT_EQ(DelayFrames(48000, 200), 9600);
    EXPECT_EQ(DelayFrames(44100, 200), 8819);
    EXPECT_EQ(DelayFrames(44100, 1000), 44099);
    EXPECT_EQ(DelayFrames(22050, 200), 4409);
    EXPECT_EQ(DelayFrames(48000, 1000), 48000);
    EXPECT_EQ(DelayFrames(44100, 0), 0);
}

TEST(PseudoSurround, Delay200At44100ExtensibleHeaderAndSamples) {
    TempDir dir;
    Source s = MakeSource(dir, 44100, 2 * 44100 + 100);
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    auto paths = PseudoSurround(info, Options(s, dir.path()), host);
    ASSERT_EQ(paths, std::vector<std::string>{dir.file("song(EX) delay(200ms) 4ch.wav")});
    EXPECT_EQ(host.logLines, (std::vector<std::string>{"擬似サラウンド出力中", "終わり"}));
    EXPECT_EQ(host.gauge, (std::vector<int>{0, 50}));  // the remainder leaves the gauge alone
    EXPECT_EQ(host.pumps, 0);

    Bytes out = ReadFile(paths[0]);
    const std::uint32_t d = static_cast<std::uint32_t>(s.samples.size()) * 2;
    ASSERT_EQ(out.size(), 68u + d);
    EXPECT_EQ(ReadU32(out, 4), d + 60);
    EXPECT_EQ(ReadU32(out, 16), 40u);
    EXPECT_EQ(ReadU16(out, 20), 0xFFFEu);
    EXPECT_EQ(ReadU16(out, 22), 4u);
    EXPECT_EQ(ReadU32(out, 24), 44100u);
    EXPECT_EQ(ReadU32(out, 28), 44100u * 8);
    EXPECT_EQ(ReadU16(out, 32), 8u);
    EXPECT_EQ(ReadU16(out, 34), 16u);
    EXPECT_EQ(ReadU16(out, 36), 22u);
    EXPECT_EQ(ReadU16(out, 38), 16u);
    EXPECT_EQ(ReadU32(out, 40), 0x33u);
    EXPECT_EQ(Slice(out, 44, 16), (Bytes{1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}));
    EXPECT_EQ(Slice(out, 60, 4), (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_EQ(ReadU32(out, 64), d);
    EXPECT_EQ(Slice(out, 68, d), Expected(s.samples, 8819, false, false));
}

TEST(PseudoSurround, OneSecondDelayAt48000ShiftsByOneBlockWithSwap) {
    TempDir dir;
    Source s = MakeSource(dir, 48000, 2 * 48000 + 777);
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    SurroundOptions o = Options(s, dir.path(), 1000);
    o.swapRear = true;
    auto paths = PseudoSurround(info, o, host);
    ASSERT_EQ(paths, std::vector<std::string>{dir.file("song(EX)(SS) delay(1000ms) 4ch.wav")});
    Bytes out = ReadFile(paths[0]);
    Bytes want = Expected(s.samples, 48000, true, false);
    EXPECT_EQ(Slice(out, 68, out.size() - 68), want);
    // The whole first second of the rear pair is silent.
    for (std::size_t n = 0; n < 48000; n += 997) EXPECT_EQ(ReadU32(out, 68 + n * 8 + 4), 0u) << n;
}

TEST(PseudoSurround, ZeroDelayPlainSixChannelsIgnoresCue) {
    TempDir dir;
    Source s = MakeSource(dir, 8000, 3 * 8000);
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    SurroundOptions o = Options(s, EnsureTrailingSeparator(dir.path()), 0);
    o.header = SurroundHeader::Plain;
    o.cue = true;
    o.swapRear = true;
    auto paths = PseudoSurround(info, o, host);
    ASSERT_EQ(paths, std::vector<std::string>{dir.file("song(SS) delay(0ms) 4ch.wav")});
    EXPECT_EQ(host.gauge, (std::vector<int>{0, 33, 66}));  // whole seconds only: never 100
    Bytes out = ReadFile(paths[0]);
    const std::uint32_t d = static_cast<std::uint32_t>(s.samples.size()) * 3;
    ASSERT_EQ(out.size(), 44u + d);
    EXPECT_EQ(ReadU32(out, 4), d + 36);
    EXPECT_EQ(ReadU32(out, 16), 16u);
    EXPECT_EQ(ReadU16(out, 20), 1u);
    EXPECT_EQ(ReadU16(out, 22), 6u);
    EXPECT_EQ(ReadU32(out, 28), 8000u * 12);
    EXPECT_EQ(ReadU16(out, 32), 12u);
    EXPECT_EQ(ReadU32(out, 40), d);
    EXPECT_EQ(Slice(out, 44, d), Expected(s.samples, 0, true, true));
}

TEST(PseudoSurround, CueHeaderAndSourceShorterThanTheDelay) {
    TempDir dir;
    Source s = MakeSource(dir, 8000, 1000);  // 125 ms against 200 ms
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    host.progress(42);  // left by an earlier operation
    SurroundOptions o = Options(s, dir.path());
    o.cue = true;
    auto paths = PseudoSurround(info, o, host);
    EXPECT_EQ(host.gauge, std::vector<int>{42});
    Bytes out = ReadFile(paths.at(0));
    const std::uint32_t d = 1000 * 8;
    ASSERT_EQ(out.size(), 128u + d);
    EXPECT_EQ(ReadU32(out, 4), d + 120);
    Bytes cue(60, 0);
    cue[0] = 'c';
    cue[1] = 'u';
    cue[2] = 'e';
    cue[3] = ' ';
    cue[4] = 52;
    EXPECT_EQ(Slice(out, 60, 60), cue);
    EXPECT_EQ(Slice(out, 120, 4), (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_EQ(Slice(out, 128, d), Expected(s.samples, 1600, false, false));
}

TEST(PseudoSurround, FileShortenedAfterAnalysisIsRefusedWithNoOutput) {
    TempDir dir;
    Source s = MakeSource(dir, 8000, 3 * 8000 + 50);
    WaveInfo info = Analysed(s.path);
    const std::size_t kept = 8000 + 3000;
    WriteFile(s.path, Slice(s.builder.Build(), 0, 44 + kept * 4));
    TraceHost host;
    EXPECT_EQ(CodeOfFailure([&] { PseudoSurround(info, Options(s, dir.path(), 100), host); }),
              "source-changed " + s.path);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);  // the source alone
}

TEST(PseudoSurround, OutputsPast32BitsHeadedRf64) {
    TempDir dir;
    Source s = MakeSource(dir, 8000, 100);
    WaveInfo info = Analysed(s.path);
    TraceHost host;
    // 0x7FFFFFE0 doubled plus 60 still fits; plus 120 (cue) or tripled does
    // not: those outputs get the RF64 header with the 64-bit data size.
    info.dataSize = 0x7FFFFFE0;
    SurroundOptions o = Options(s, dir.path());
    o.cue = true;
    const auto ds64DataSize = [](const std::string& path) {
        const Bytes b = ReadFile(path);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RF64");
        return std::uint64_t{ReadU32(b, 28)} | (std::uint64_t{ReadU32(b, 32)} << 32);
    };
    EXPECT_EQ(ds64DataSize(PseudoSurround(info, o, host).at(0)), 0x7FFFFFE0ull * 2);
    o.cue = false;
    o.header = SurroundHeader::Plain;
    EXPECT_EQ(ds64DataSize(PseudoSurround(info, o, host).at(0)), 0x7FFFFFE0ull * 3);
    o.header = SurroundHeader::Extensible;
    auto paths = PseudoSurround(info, o, host);
    EXPECT_EQ(ReadU32(ReadFile(paths.at(0)), 4), 0xFFFFFFFCu);
}

// Data that ends inside a frame: the output holds the whole frames alone and
// its header counts just those.
TEST(PseudoSurround, PartOfAFrameAtTheEndIsLeftOut) {
    const struct {
        std::size_t extra;
        bool plain;
    } cases[] = {{2, false}, {2, true}, {1, false}, {3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.extra) + (c.plain ? " plain" : " extensible"));
        TempDir dir;
        Source s = MakeSource(dir, 8000, 1000);
        s.builder.samples.resize(s.samples.size() + c.extra, 0x5A);
        WriteFile(s.path, s.builder.Build());
        SurroundOptions o = Options(s, dir.path(), 50);
        if (c.plain) o.header = SurroundHeader::Plain;
        TraceHost host;
        const Bytes out = ReadFile(PseudoSurround(Analysed(s.path), o, host).at(0));
        const std::size_t dataAt = c.plain ? 44 : 68;
        const Bytes want = Expected(s.samples, static_cast<std::size_t>(DelayFrames(8000, 50)), false, c.plain);
        EXPECT_EQ(ReadU32(out, dataAt - 4), want.size());
        EXPECT_EQ(ReadU32(out, 4), out.size() - 8);
        EXPECT_EQ(Slice(out, dataAt, out.size() - dataAt), want);
    }
}
