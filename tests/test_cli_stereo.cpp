// velmora-cli split, surround and normalize, run as processes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli_runner.h"
#include "error_of.h"
#include "ops_fixture.h"

using namespace velmora::test;

namespace {

std::string Q(const std::string& s) { return "'" + s + "'"; }

Bytes Stereo16(std::size_t frames) {
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(frames, 2, 2);
    return b.Build();
}

Bytes Mono16(std::size_t frames) {
    WavBuilder b;
    b.channels = 1;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(frames, 1, 2);
    return b.Build();
}

}  // namespace

TEST(CliStereo, SplitPrintsEveryOutputAndRefusesMono) {
    TempDir dir;
    std::string song = dir.write("song.wav", Stereo16(8000 + 10));
    std::string mono = dir.write("mono.wav", Mono16(100));
    CliRun r = RunCli("split " + Q(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{dir.file("song(Left)(0).wav"), dir.file("song(Right)(1).wav")}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(dir.file("song(Right)(1).wav")).size(), 44u + 8010 * 2);

    TempDir out;
    r = RunCli("split " + Q(mono) + " " + Q(song) + " -o " + Q(out.path()), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{out.file("song(Left)(0).wav"), out.file("song(Right)(1).wav")}));
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(mono), std::string::npos);
    EXPECT_EQ(FilesIn(out.path()), (std::vector<std::string>{"song(Left)(0).wav", "song(Right)(1).wav"}));
}

TEST(CliStereo, SplitOfAnUnnamedLayoutFailsWithItsReason) {
    TempDir dir;
    WavBuilder b;
    b.channels = 9;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(50, 9, 2);
    std::string nine = dir.write("nine.wav", b.Build());
    CliRun r = RunCli("split " + Q(nine), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // Not offered: the refusal gives the split's own reason.
    EXPECT_EQ(r.err, nine + ": split: チャンネル配置が不明なため分離できません\n");
}

TEST(CliStereo, SurroundOptionsNamesAndUsageErrors) {
    TempDir dir;
    std::string song = dir.write("song.wav", Stereo16(8000 + 10));
    CliRun r = RunCli("surround " + Q(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{dir.file("song(EX) delay(200ms) 4ch.wav")});
    EXPECT_EQ(ReadU32(ReadFile(Lines(r.out).at(0)), 16), 40u);

    TempDir out;
    r = RunCli("surround --delay 0050 --swap --plain -o " + Q(out.path()) + " " + Q(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Lines(r.out), std::vector<std::string>{out.file("song(SS) delay(50ms) 4ch.wav")});
    Bytes plain = ReadFile(Lines(r.out)[0]);
    EXPECT_EQ(ReadU16(plain, 22), 6u);
    EXPECT_EQ(plain.size(), 44u + 8010 * 12);

    r = RunCli("surround --cue " + Q(song) + " -o " + Q(out.path()), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(out.file("song(EX) delay(200ms) 4ch.wav")).size(), 128u + 8010 * 8);

    EXPECT_EQ(RunCli("surround --cue --plain " + Q(song), dir).status, 2);
    r = RunCli("surround --delay 1001 " + Q(song), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "--delay: ディレイは0～1000msの範囲内にしてください\nRun with --help for more information.\n");
    r = RunCli("surround --delay 2x " + Q(song), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "--delay: '2x' は整数ではありません\nRun with --help for more information.\n");
}

TEST(CliStereo, SurroundAndNormalizeRefuseWhatTheWindowWouldNotOffer) {
    TempDir dir;
    WavBuilder eight;
    eight.bitsPerSample = 8;
    eight.samplesPerSec = 8000;
    eight.samples = PatternSamples(100, 2, 1);
    std::string e = dir.write("eight.wav", eight.Build());
    std::string mono = dir.write("mono.wav", Mono16(100));
    for (const std::string verb : {"surround", "normalize --yes"}) {
        CliRun r = RunCli(verb + " " + Q(e) + " " + Q(mono), dir);
        EXPECT_EQ(r.status, 1) << verb;
        EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"eight.wav", "mono.wav"}));
}

// A minute's row: today's integer, then its dBFS on the 16-bit scale.
static std::string PeakRow(int minute, int second, int peak) {
    char db[32];
    std::snprintf(db, sizeof db, "%.2f", 20 * std::log10(peak / 32768.0));
    return std::to_string(minute) + " " + std::to_string(second) + " " + std::to_string(peak) + " " + db;
}

TEST(CliStereo, NormalizeScansWithNoAndWritesWithYes) {
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = 1000;
    std::vector<std::int16_t> s(2 * (61 * 1000 + 5), 10);
    s[2 * 3500] = 4096;
    s[2 * 61002 + 1] = -8192;
    b.samples = Pcm16(s);
    std::string song = dir.write("song.wav", b.Build());
    CliRun r = RunCli("normalize --no " + Q(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{PeakRow(0, 3, 4096), PeakRow(1, 1, 8192), "ピーク値:8192 "}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"song.wav"});

    r = RunCli("normalize --yes " + Q(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{PeakRow(0, 3, 4096), PeakRow(1, 1, 8192), "ピーク値:8192 ",
                                                      dir.file("song(normalize).wav")}));
    Bytes out = ReadFile(dir.file("song(normalize).wav"));
    EXPECT_EQ(static_cast<std::int16_t>(ReadU16(out, 44 + 4 * 61002 + 2)), -32767);  // the peak, at full scale
    EXPECT_EQ(ReadU16(out, 44 + 4 * 3500), 16383u);                                  // 4096 × 32767 / 8192

    WavBuilder quiet;
    quiet.samplesPerSec = 1000;
    quiet.samples = Bytes(400, 0);
    std::string silent = dir.write("silent.wav", quiet.Build());
    // Silence: the peaks, then the refusal, whatever the answer would have been.
    for (const char* answer : {"--yes", "--no", "-n"}) {
        SCOPED_TRACE(answer);
        r = RunCli(std::string("normalize ") + answer + " " + Q(silent), dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"0 0 0 -inf", "ピーク値:0 "}));
        ASSERT_EQ(r.err.rfind(silent + ": ", 0), 0u) << r.err;
        EXPECT_EQ(CodeOf(r.err.substr(silent.size() + 2, r.err.size() - silent.size() - 3)), "silent-file");
        EXPECT_FALSE(std::filesystem::exists(dir.file("silent(normalize).wav")));
    }
}

TEST(CliStereo, ColonsBackslashesAndNonUtf8BytesAreOrdinaryNameCharacters) {
    for (std::string base : {"take 12:30", "a\\b", "bad\xff\xfe"}) {
        TempDir dir;
        dir.write(base + ".wav", Stereo16(100));
        // A bare name: the outputs land in the current directory.
        CliRun r = RunShell("cd " + Q(dir.path()) + " && " + VELMORA_CLI + " split " + Q(base + ".wav"), dir);
        EXPECT_EQ(r.status, 0) << base << ": " << r.err;
        EXPECT_EQ(Lines(r.out),
                  (std::vector<std::string>{"./" + base + "(Left)(0).wav", "./" + base + "(Right)(1).wav"}));
        TempDir out;
        r = RunCli("split " + Q(dir.file(base + ".wav")) + " -o " + Q(out.path()), dir);
        EXPECT_EQ(r.status, 0) << base << ": " << r.err;
        EXPECT_EQ(FilesIn(out.path()), (std::vector<std::string>{base + "(Left)(0).wav", base + "(Right)(1).wav"}));
        EXPECT_EQ(RunCli("info --json " + Q(dir.file(base + ".wav")), dir).status, 0) << base;
    }
}
