// Raw-to-WAV: the header fields for each choice, the stream copy, the name,
// and the failures that must leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "error_of.h"
#include "ops/option_text.h"
#include "ops/rawwave.h"
#include "wav/error.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr std::size_t MiB = 1048576;

// What the conversion must write: a plain header of that format, then the raw
// bytes and, after an odd count, the pad byte the RIFF size counts.
Bytes Wave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& raw) {
    WavBuilder b;
    b.channels = channels;
    b.samplesPerSec = rate;
    b.bitsPerSample = bits;
    b.samples = raw;
    if (raw.size() % 2 != 0) b.trailer = {0};
    return b.Build();
}

RawToWaveOptions Options(const std::string& raw, const std::string& folder) {
    RawToWaveOptions o;
    o.rawPath = raw;
    o.outputFolder = folder;
    return o;
}

}  // namespace

TEST(RawToWave, DefaultsWithAMillionBytes) {
    TempDir dir;
    Bytes raw = PatternSamples(250000, 2, 2);
    std::string path = dir.write("take1.pcm", raw);
    RecordingHost host;
    auto out = RawToWave(Options(path, dir.path()), host);
    ASSERT_EQ(out, std::vector<std::string>{dir.file("take1.pcm(wavemaker).wav")});
    Bytes wav = ReadFile(out[0]);
    EXPECT_EQ(wav.size(), 1000044u);
    EXPECT_EQ(ReadU32(wav, 28), 192000u);
    EXPECT_EQ(wav, Wave(2, 48000, 16, raw));
    EXPECT_EQ(host.lastProgress, 100);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.logLines.empty());
}

TEST(RawToWave, EachRateResolutionAndMode) {
    TempDir dir;
    Bytes raw = PatternSamples(1001, 1, 1);  // odd length: copied whole, then a pad byte
    std::string path = dir.write("odd.raw", raw);

    RawToWaveOptions o = Options(path, dir.path());
    o.rate = 44100;
    o.bits = RawBits::Eight;
    o.channels = RawChannels::Mono;
    RecordingHost host;
    EXPECT_EQ(ReadFile(RawToWave(o, host).at(0)), Wave(1, 44100, 8, raw));

    o.rate = 22050;
    o.bits = RawBits::Sixteen;
    EXPECT_EQ(ReadFile(RawToWave(o, host).at(0)), Wave(1, 22050, 16, raw));

    o.rate = 32000;
    o.channels = RawChannels::Stereo;
    EXPECT_EQ(ReadFile(RawToWave(o, host).at(0)), Wave(2, 32000, 16, raw));

    // A typed rate takes the standard conversion: leading blanks, hexadecimal,
    // a sign; no range check, the rate is stored as it is.
    o.rate = ParseInteger("  0x5622");
    EXPECT_EQ(ReadFile(RawToWave(o, host).at(0)), Wave(2, 22050, 16, raw));
    o.rate = ParseInteger("-8000");
    EXPECT_EQ(ReadFile(RawToWave(o, host).at(0)), Wave(2, static_cast<std::uint32_t>(-8000), 16, raw));
}

TEST(RawToWave, OneBlockAndOneByteMore) {
    TempDir dir;
    for (std::size_t size : {MiB, MiB + 1}) {
        Bytes raw = PatternSamples(size, 1, 1);
        std::string path = dir.write("block.raw", raw);
        RecordingHost host;
        EXPECT_EQ(ReadFile(RawToWave(Options(path, dir.path()), host).at(0)), Wave(2, 48000, 16, raw));
        EXPECT_EQ(host.progressCalls, size == MiB ? 1 : 2);
        EXPECT_EQ(host.lastProgress, 100);
    }
}

TEST(RawToWave, BareFileNameIsRelativeToTheCurrentFolder) {
    TempDir dir;
    Bytes raw = PatternSamples(10, 2, 2);
    dir.write("take1.pcm", raw);
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    RecordingHost host;
    std::vector<std::string> out;
    std::string error = ErrorOf([&] { out = RawToWave(Options("take1.pcm", "./"), host); });
    std::filesystem::current_path(previous);
    EXPECT_EQ(error, "(no error)");
    EXPECT_EQ(out, std::vector<std::string>{"./take1.pcm(wavemaker).wav"});
    EXPECT_EQ(ReadFile(dir.file("take1.pcm(wavemaker).wav")), Wave(2, 48000, 16, raw));
}

TEST(RawToWave, EmptyRawFileIsACompleteEmptyWave) {
    TempDir dir;
    std::string path = dir.write("empty.pcm", {});
    RecordingHost host;
    auto out = RawToWave(Options(path, dir.path()), host);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ReadFile(out[0]), Wave(2, 48000, 16, {}));
    EXPECT_EQ(host.lastProgress, 100);
    EXPECT_TRUE(host.messages.empty());
}

TEST(RawToWave, FailuresWriteNothing) {
    TempDir dir;
    RecordingHost host;
    EXPECT_TRUE(RawToWave(Options("", dir.path()), host).empty());

    std::string path = dir.write("x.pcm", Bytes(8, 1));
    RawToWaveOptions o = Options(path, dir.path());
    for (std::string text : {"", "22.05", "22050Hz"})
        EXPECT_EQ(CodeOfFailure([&] { ParseInteger(text); }), "not-integer " + text);
    o.rawPath = dir.file("missing.pcm");
    o.rate = 8000;
    EXPECT_EQ(CodeOfFailure([&] { RawToWave(o, host); }), "cannot-open " + o.rawPath);

    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find("wavemaker"), std::string::npos) << entry.path();
    EXPECT_EQ(host.progressCalls, 0);
}
