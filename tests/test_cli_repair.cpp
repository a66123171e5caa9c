// The repair verbs and raw2wav of velmora-cli, run as a process: refusals,
// output paths, exit statuses, and raw2wav against sox as an oracle.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "cli_runner.h"

using namespace velmora::test;

namespace {


// The body of the first chunk with the given id in a RIFF file, walking the
// chunk headers (with the pad byte after an odd body).
std::optional<Bytes> ChunkBody(const Bytes& wav, const char* id) {
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        std::uint32_t size = ReadU32(wav, at + 4);
        if (std::memcmp(wav.data() + at, id, 4) == 0) {
            std::size_t end = std::min<std::size_t>(wav.size(), at + 8 + size);
            return Bytes(wav.begin() + static_cast<std::ptrdiff_t>(at + 8),
                         wav.begin() + static_cast<std::ptrdiff_t>(end));
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

}  // namespace

TEST(CliRepair, RebuildHeaderWritesIntoTheFolderAndRefusesPlainFiles) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("out"));
    WavBuilder eighteen = CliStereo16(1500);
    eighteen.fmtSize = 18;
    std::string good = dir.write("good.wav", eighteen.Build());
    std::string plain = dir.write("plain.wav", CliStereo16(10).Build());

    CliRun r = RunCli("rebuild-header " + Quote(plain) + " " + Quote(good) + " -o " + Quote(dir.file("out")), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{dir.file("out") + "/good(reheader).wav"});
    EXPECT_EQ(ReadFile(dir.file("out/good(reheader).wav")), CliStereo16(1500).Build());
    EXPECT_EQ(Lines(r.err).size(), 1u);
    EXPECT_NE(r.err.find(plain), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/plain(reheader).wav")));

    // Without -o the output lands beside the source.
    r = RunCli("rebuild-header " + Quote(good), dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{dir.file("good(reheader).wav")});
    EXPECT_EQ(r.err, "");
}

TEST(CliRepair, InPlaceVerbsPatchOnlyWhatTheAnalysisOffers) {
    TempDir dir;
    WavBuilder off = CliStereo16(100);
    off.riffSize = 7;
    Bytes offBytes = off.Build();
    std::string wrong = dir.write("wrong.wav", offBytes);
    Bytes consistent = CliStereo16(100).Build();
    std::string right = dir.write("right.wav", consistent);

    CliRun r = RunCli("fix-riff-size " + Quote(wrong), dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{wrong});
    EXPECT_EQ(ReadFile(wrong), consistent);

    r = RunCli("fix-riff-size " + Quote(right), dir);  // nothing to fix: a note, not a failure
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err).size(), 1u);
    EXPECT_EQ(r.err.rfind(right + ": ", 0), 0u) << r.err;
    EXPECT_EQ(ReadFile(right), consistent);

    r = RunCli("set-rate 44100 " + Quote(right), dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{right});
    Bytes patched = ReadFile(right);
    EXPECT_EQ(ReadU32(patched, 24), 44100u);
    EXPECT_EQ(ReadU32(patched, 28), 176400u);

    // A malformed rate is a usage error; one too high for this file's frame
    // fails the file.
    r = RunCli("set-rate 44.1k " + Quote(right), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "RATE: '44.1k' は整数ではありません\nRun with --help for more information.\n");
    EXPECT_EQ(ReadFile(right), patched);
    for (auto [rate, status] : std::vector<std::pair<std::string, int>>{{"0", 2}, {"-8000", 2}, {"1073741824", 1}}) {
        r = RunCli("set-rate -- " + rate + " " + Quote(right), dir);
        EXPECT_EQ(r.status, status) << rate;
        EXPECT_NE(r.err.find("サンプリング周波数に使えません"), std::string::npos) << rate << r.err;
        EXPECT_EQ(ReadFile(right), patched) << rate;
    }

    // A stored rate of 0: the analysis stops, yet the rate can be given.
    WavBuilder zeroRate = CliStereo16(100);
    zeroRate.samplesPerSec = 0;
    std::string zero = dir.write("zero.wav", zeroRate.Build());
    EXPECT_EQ(RunCli("split " + Quote(zero), dir).status, 1);
    r = RunCli("set-rate 8000 " + Quote(zero), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, zero + ": 0 による浮動小数点数除算\n");
    EXPECT_EQ(ReadFile(zero), [] {
        WavBuilder b = CliStereo16(100);
        b.samplesPerSec = 8000;
        return b.Build();
    }());

    WavBuilder tagged = CliStereo16(100);
    tagged.trailer = ListChunk(8);
    Bytes taggedBytes = tagged.Build();
    std::string list = dir.write("list.wav", taggedBytes);
    r = RunCli("set-rate 32000 " + Quote(list), dir);  // a LIST footer: not offered
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(list), taggedBytes);
}

TEST(CliRepair, RemoveFooterAndMissingFiles) {
    TempDir dir;
    WavBuilder tagged = CliStereo16(100);
    tagged.trailer = ListChunk(12);
    std::string list = dir.write("list.wav", tagged.Build());
    std::string missing = dir.file("missing.wav");
    CliRun r = RunCli("remove-footer " + Quote(missing) + " " + Quote(list), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{dir.file("list(futta del).wav")});
    EXPECT_EQ(ReadFile(dir.file("list(futta del).wav")), CliStereo16(100).Build());
    EXPECT_EQ(r.err, missing + ": ファイル " + missing + " は開けません: " + std::strerror(ENOENT) + "\n");
}

TEST(CliRaw2Wav, OptionsDefaultsAndUsage) {
    TempDir dir;
    Bytes raw = PatternSamples(333, 1, 1);
    dir.write("take1.pcm", raw);

    // A bare name, relative to the current folder; the defaults.
    CliRun r = RunShell("cd " + Quote(dir.path()) + " && " + VELMORA_CLI + " raw2wav take1.pcm", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{"./take1.pcm(wavemaker).wav"});
    WavBuilder expected;
    expected.samplesPerSec = 48000;
    expected.samples = raw;
    expected.trailer = {0};  // 333 bytes: the pad byte follows
    EXPECT_EQ(ReadFile(dir.file("take1.pcm(wavemaker).wav")), expected.Build());

    std::filesystem::create_directory(dir.file("o"));
    r = RunCli("raw2wav " + Quote(dir.file("take1.pcm")) + " --rate 22050 --bits 8 --mono -o " + Quote(dir.file("o")),
               dir);
    EXPECT_EQ(r.status, 0);
    expected.samplesPerSec = 22050;
    expected.bitsPerSample = 8;
    expected.channels = 1;
    EXPECT_EQ(ReadFile(dir.file("o/take1.pcm(wavemaker).wav")), expected.Build());

    r = RunCli("raw2wav --rate fast " + Quote(dir.file("take1.pcm")), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "--rate: 'fast' は整数ではありません\nRun with --help for more information.\n");
    EXPECT_EQ(RunCli("raw2wav --bits 24 " + Quote(dir.file("take1.pcm")), dir).status, 2);
    EXPECT_EQ(RunCli("raw2wav", dir).status, 2);
    EXPECT_EQ(RunCli("set-rate 44100", dir).status, 2);
}

TEST(CliRaw2Wav, MatchesSox) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    Bytes raw = PatternSamples(4801, 2, 2);
    std::string in = dir.write("in.raw", raw);
    std::string soxOut = dir.file("sox.wav");
    ASSERT_EQ(std::system(("sox -t raw -r 48000 -e signed -b 16 -c 2 " + Quote(in) + " " + Quote(soxOut)).c_str()), 0);
    CliRun r = RunCli("raw2wav " + Quote(in), dir);
    ASSERT_EQ(r.status, 0);

    Bytes ours = ReadFile(dir.file("in.raw(wavemaker).wav"));
    Bytes theirs = ReadFile(soxOut);
    auto ourFmt = ChunkBody(ours, "fmt ");
    auto soxFmt = ChunkBody(theirs, "fmt ");
    ASSERT_TRUE(ourFmt && soxFmt);
    ASSERT_GE(soxFmt->size(), 16u);
    // Channels, rate, byte rate, block size and bits must agree; sox may use
    // the extensible tag, so the tag is compared only when it writes plain PCM.
    EXPECT_EQ(Bytes(ourFmt->begin() + 2, ourFmt->begin() + 16), Bytes(soxFmt->begin() + 2, soxFmt->begin() + 16));
    if (ReadU16(*soxFmt, 0) == 1) {
        EXPECT_EQ(ReadU16(*ourFmt, 0), 1u);
    }
    auto ourData = ChunkBody(ours, "data");
    auto soxData = ChunkBody(theirs, "data");
    ASSERT_TRUE(ourData && soxData);
    EXPECT_EQ(*ourData, *soxData);
    EXPECT_EQ(*ourData, raw);
    EXPECT_EQ(ReadU32(ours, 4), ours.size() - 8);
}

// The dry run shows the bytes the run writes: for a compressed format the
// byte rate keeps its ratio to the rate, in the plan as in the file.
TEST(CliRepair, SetRateDryRunPlansWhatTheRunWrites) {
    const struct {
        const char* name;
        std::uint16_t tag, blockAlign, bits;
        std::uint32_t byteRate;
    } cases[] = {{"pcm", 1, 4, 16, 176400}, {"ima adpcm", 0x11, 2048, 4, 44359}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WavBuilder b;
        b.formatTag = c.tag;
        b.blockAlign = c.blockAlign;
        b.bitsPerSample = c.bits;
        b.avgBytesPerSec = c.byteRate;
        b.samples = Bytes(c.blockAlign * 4, 0x11);
        const std::string path = dir.write("a.wav", b.Build());
        CliRun plan = RunCli("set-rate 48000 -n " + Quote(path), dir);
        ASSERT_EQ(plan.status, 0) << plan.err;
        ASSERT_EQ(RunCli("set-rate 48000 " + Quote(path), dir).status, 0);
        const std::uint32_t written = ReadU32(ReadFile(path), 28);
        EXPECT_NE(plan.out.find("byte rate " + std::to_string(c.byteRate) + " -> " + std::to_string(written) + "\n"),
                  std::string::npos)
            << plan.out;
    }
}

// IMA ADPCM, MS ADPCM and GSM 6.10 as sox and libsndfile write them: the new
// byte rate is rate × block size / samples per block, rounded down, as
// sndfile-info derives it; the dry run plans the same.
TEST(CliRepair, SetRateDerivesTheByteRateOfAdpcmAndGsmFromTheirBlocks) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const struct {
        const char* writer;  // writes {out}
        std::uint32_t rate;
    } cases[] = {
        {"sox -n -r 44100 -c 2 -e ima-adpcm {out} synth 1 sine 440", 48000},
        {"sox -n -r 44100 -c 2 -e ms-adpcm {out} synth 1 sine 440", 48000},
        {"sox -n -r 8000 -c 1 -e gsm-full-rate {out} synth 1 sine 440", 16000},
        {"sox -n -r 44100 -c 2 -b 16 {pcm} synth 1 sine 440 && sndfile-convert -ima-adpcm {pcm} {out}", 48000},
    };
    const bool sndfile = std::system("command -v sndfile-info >/dev/null 2>&1") == 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writer);
        std::string command = c.writer;
        if (command.find("sndfile-convert") != std::string::npos && !sndfile) continue;
        TempDir dir;
        const std::string path = dir.file("a.wav");
        const auto put = [&command](const std::string& mark, const std::string& file) {
            const std::string quoted = Quote(file);
            for (std::size_t at = command.find(mark); at != std::string::npos;
                 at = command.find(mark, at + quoted.size()))
                command.replace(at, mark.size(), quoted);
        };
        put("{out}", path);
        put("{pcm}", dir.file("pcm.wav"));
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string rate = std::to_string(c.rate);
        const CliRun plan = RunCli("set-rate " + rate + " -n " + Quote(path), dir);
        ASSERT_EQ(RunCli("set-rate " + rate + " " + Quote(path), dir).status, 0);
        const Bytes fmt = ChunkBody(ReadFile(path), "fmt ").value();
        const std::uint32_t byteRate = c.rate * ReadU16(fmt, 12) / ReadU16(fmt, 18);
        EXPECT_EQ(ReadU32(fmt, 4), c.rate);
        EXPECT_EQ(ReadU32(fmt, 8), byteRate);
        EXPECT_NE(plan.out.find(" -> " + std::to_string(byteRate) + "\n"), std::string::npos) << plan.out;
        if (sndfile) {
            const CliRun info = RunShell("sndfile-info " + Quote(path), dir);
            EXPECT_EQ(info.out.find("should be"), std::string::npos) << info.out;
        }
    }
}
