// A rescue past 4 GiB: a recording whose header a power loss zeroed, its
// samples mostly a hole (sparse), rescued into an RF64 file that keeps the
// hole, so neither needs gigabytes of disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "cli_runner.h"
#include "io/file.h"
#include "rescue_signals.h"
#include "wav/analysis.h"
#include "wav/rf64.h"

namespace velmora::test {
namespace {

constexpr std::uint64_t k4G = 0x100000000ull;

std::uint64_t DiskBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
}

TEST(RescueHeavy, ZeroedHeaderPast4GiBBecomesRf64) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    const std::string good = dir.file("good.wav");
    ASSERT_EQ(
        std::system(("sox -R -n -r 48000 -e signed -b 16 '" + good + "' synth 1 sine 440 remix 1v0.8 1v0.7 2>/dev/null")
                        .c_str()),
        0);
    const Bytes head = SoxRaw(dir, Signal::Speech, 2, "signed", 16, 2);
    const Bytes tail = SoxRaw(dir, Signal::Music, 2, "signed", 16, 1);
    // Zeroed header, sound, silence past 4 GiB, sound, half a frame.
    const std::uint64_t tailAt = k4G + 4 * 48000;
    const std::uint64_t length = 44 + tailAt + tail.size() + 2;
    const std::string broken = dir.file("broken.wav");
    Bytes start(44, 0);
    AppendBytes(start, head);
    WriteSparse(broken, start, length);
    {
        File f = File::OpenReadWrite(broken);
        f.writeAt(44 + tailAt, tail.data(), tail.size());
        f.writeAt(length - 2, "\x11\x22", 2);
    }

    const CliRun run = RunCli("recover --like " + Quote(good) + " " + Quote(broken), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = dir.file("broken(rescue).wav");
    EXPECT_EQ(run.out, out + "\n");

    WaveInfo info;
    ASSERT_TRUE(AnalyzeWave(out, info).complete());
    EXPECT_TRUE(info.rf64);
    const std::uint64_t data = length - 44 - 2;
    EXPECT_EQ(info.dataSize, data);
    const std::uint64_t header = 44 + kDs64ChunkSize;
    EXPECT_EQ(static_cast<std::uint64_t>(FileSizeOf(out)), header + data);
    // The samples as the broken file holds them, byte for byte (as cmp would
    // compare them, in blocks large enough to read 8 GiB of holes quickly).
    File a = File::OpenRead(out), b = File::OpenRead(broken);
    std::vector<std::uint8_t> x(8 << 20), y(8 << 20);
    std::uint64_t differ = 0;
    for (std::uint64_t at = 0; at < data; at += x.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(x.size(), data - at));
        ASSERT_EQ(a.readAt(header + at, x.data(), n), n);
        ASSERT_EQ(b.readAt(44 + at, y.data(), n), n);
        differ += std::memcmp(x.data(), y.data(), n) != 0;
    }
    EXPECT_EQ(differ, 0u);
    // The hole stayed a hole.
    EXPECT_LT(DiskBytes(out), std::uint64_t{64} << 20);
}

}  // namespace
}  // namespace velmora::test
