// Outputs past 4 GiB from sparse inputs, through velmora-cli: the multiplex
// of two RF64 mono files and raw2wav of a raw file past 4 GiB. Each writes
// several GiB, so they run under the heavy label.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_runner.h"
#include "io/file.h"
#include "ops_fixture.h"

namespace velmora::test {
namespace {

constexpr std::uint64_t k4G = 0x100000000ull;

bool RoomFor(const std::string& folder, std::uint64_t bytes) {
    return std::filesystem::space(folder).available > bytes + (std::uint64_t{1} << 30);
}

void WriteAt(const std::string& path, std::uint64_t at, const Bytes& bytes) {
    File f = File::OpenReadWrite(path);
    f.writeAt(at, bytes.data(), bytes.size());
}

Bytes ReadAt(const std::string& path, std::uint64_t at, std::size_t n) {
    File f = File::OpenRead(path);
    Bytes b(n);
    b.resize(f.readAt(at, b.data(), n));
    return b;
}

// Two RF64 mono inputs of 4 GiB + 96,000 bytes: the output holds both whole,
// and their first and last samples sit in its first and last frames.
TEST(Rf64Big, MultiplexOfTwoSparseRf64MonoInputs) {
    TempDir dir;
    const std::uint64_t data = k4G + 96000;
    if (!RoomFor(dir.path(), 2 * data)) GTEST_SKIP() << "not enough free disk for an 8 GiB output";
    WavBuilder mono;
    mono.channels = 1;
    mono.samplesPerSec = 48000;
    mono.Rf64(80 + data - 8, data);
    const Bytes header = mono.Build();
    ASSERT_EQ(header.size(), 80u);
    const std::string left = dir.file("L.wav"), right = dir.file("R.wav");
    WriteSparse(left, header, 80 + data);
    WriteSparse(right, header, 80 + data);
    WriteAt(left, 80, {0x11, 0x12});
    WriteAt(left, 80 + data - 2, {0x13, 0x14});
    WriteAt(right, 80, {0x21, 0x22});
    WriteAt(right, 80 + data - 2, {0x23, 0x24});

    const CliRun run = RunCli("-q mux --plain --left " + Quote(left) + " --right " + Quote(right), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = dir.file("L(mux).wav");
    ASSERT_EQ(std::filesystem::file_size(out), 80 + 2 * data);
    const WaveInfo info = Analysed(out);
    EXPECT_TRUE(info.rf64);
    EXPECT_EQ(info.dataSize, 2 * data);
    EXPECT_EQ(info.format.channels, 2);
    EXPECT_EQ(ReadAt(out, 80, 4), (Bytes{0x11, 0x12, 0x21, 0x22}));
    EXPECT_EQ(ReadAt(out, 80 + 2 * data - 4, 4), (Bytes{0x13, 0x14, 0x23, 0x24}));
}

// A raw card image of 4.1 GiB becomes RF64 that ffprobe counts whole and
// ffmpeg reads to its last frame.
TEST(Rf64Big, RawPast4GiBBecomesRf64ReadToItsEnd) {
    TempDir dir;
    const std::uint64_t raw = k4G + 107374184;  // 4.1 GiB of 16-bit stereo frames
    if (!RoomFor(dir.path(), raw)) GTEST_SKIP() << "not enough free disk for a 4 GiB output";
    const std::string path = dir.file("card.img");
    WriteSparse(path, {0x01, 0x02, 0x03, 0x04}, raw);
    WriteAt(path, raw - 4, {0x05, 0x06, 0x07, 0x08});

    const CliRun run = RunCli("-q raw2wav --rate 48000 " + Quote(path), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = dir.file("card.img(wavemaker).wav");
    ASSERT_EQ(std::filesystem::file_size(out), 80 + raw);
    const WaveInfo info = Analysed(out);
    EXPECT_TRUE(info.rf64);
    EXPECT_EQ(info.dataSize, raw);
    EXPECT_EQ(ReadAt(out, 80, 4), (Bytes{0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(ReadAt(out, 80 + raw - 4, 4), (Bytes{0x05, 0x06, 0x07, 0x08}));
    if (!HasTool("ffprobe") || !HasTool("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const CliRun probe = RunShell(
        "ffprobe -v error -show_entries stream=codec_name,channels,sample_rate,duration_ts -of csv=p=0 " + Quote(out),
        dir);
    EXPECT_EQ(probe.out, "pcm_s16le,48000,2," + std::to_string(raw / 4) + "\n") << probe.err;
    // The last frame, as ffmpeg decodes it from near the end.
    const CliRun tail =
        RunShell("(ffmpeg -v error -sseof -0.01 -i " + Quote(out) + " -f s16le - | tail -c 4 | od -An -tx1)", dir);
    EXPECT_EQ(tail.out, " 05 06 07 08\n") << tail.err;
}

}  // namespace
}  // namespace velmora::test
