// velmora-cli mux, run as a process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "cli_runner.h"

using namespace velmora::test;

namespace {

WavBuilder Mono(std::size_t frames, int seed, std::uint16_t bits = 16) {
    WavBuilder b;
    b.channels = 1;
    b.samplesPerSec = 100;
    b.bitsPerSample = bits;
    b.samples = PatternSamples(frames, 1, bits / 8);
    for (auto& x : b.samples) x = static_cast<std::uint8_t>(x + seed * 37);
    return b;
}

bool AnyOutput(const std::string& folder) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.path().filename().string().find("(mux)") != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(CliMux, WritesBesideTheLastFileAndPrintsThePath) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("a"));
    std::filesystem::create_directory(dir.file("b"));
    WavBuilder l = Mono(150, 0), r = Mono(150, 1);
    std::string lp = dir.write("a/front.wav", l.Build()), rp = dir.write("b/right.wav", r.Build());
    CliRun run = RunCli("mux --right " + Quote(rp) + " --left " + Quote(lp), dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, dir.file("b/front(mux).wav") + "\n");
    EXPECT_EQ(run.err, "");  // no terminal: no progress, no log
    Bytes out = ReadFile(dir.file("b/front(mux).wav"));
    ASSERT_EQ(out.size(), 44u + 150 * 4);
    EXPECT_EQ(ReadU16(out, 22), 2);
    for (std::size_t f = 0; f < 150; ++f) {
        EXPECT_EQ(ReadU16(out, 44 + f * 4), ReadU16(l.samples, f * 2));
        EXPECT_EQ(ReadU16(out, 46 + f * 4), ReadU16(r.samples, f * 2));
    }

    std::filesystem::create_directory(dir.file("o"));
    run = RunCli("mux --left " + Quote(lp) + " --right " + Quote(rp) + " -o " + Quote(dir.file("o")), dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, dir.file("o/front(mux).wav") + "\n");
}

TEST(CliMux, HeaderOptions) {
    TempDir dir;
    const char* rows[] = {"--left", "--right", "--center", "--lfe", "--s-left", "--s-right"};
    std::string args;
    for (int i = 0; i < 6; ++i)
        args += std::string(" ") + rows[i] + " " + Quote(dir.write(std::to_string(i) + ".wav", Mono(120, i).Build()));
    CliRun run = RunCli("mux --cue" + args, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, dir.file("0(EX)(mux).wav") + "\n");
    Bytes ext = ReadFile(dir.file("0(EX)(mux).wav"));
    ASSERT_EQ(ext.size(), 128u + 120 * 12);
    EXPECT_EQ(ReadU32(ext, 4), 120u * 12 + 120);
    EXPECT_EQ(ReadU32(ext, 40), 0x3Fu);
    EXPECT_EQ(std::string(ext.begin() + 60, ext.begin() + 64), "cue ");

    run = RunCli("mux --plain" + args, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    Bytes plain = ReadFile(dir.file("0(mux).wav"));
    EXPECT_EQ(ReadU16(plain, 20), 1);
    EXPECT_TRUE(std::equal(plain.begin() + 44, plain.end(), ext.begin() + 128));

    EXPECT_EQ(RunCli("mux --plain --cue" + args, dir).status, 2);
}

TEST(CliMux, Refusals) {
    TempDir dir;
    std::string mono = dir.write("m.wav", Mono(150, 0).Build());
    WavBuilder stereoB;
    stereoB.samples = PatternSamples(20, 2, 2);
    std::string stereo = dir.write("s.wav", stereoB.Build());
    std::string deep = dir.write("d.wav", Mono(150, 1, 24).Build());

    CliRun run = RunCli("mux --left " + Quote(mono) + " --center " + Quote(stereo), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("モノラルwavしか登録できません"), std::string::npos);

    // 24-bit files multiplex, but not together with 16-bit ones.
    run = RunCli("mux --left " + Quote(mono) + " --right " + Quote(deep), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("サンプリングレートかbit解像度が揃っていません"), std::string::npos) << run.err;

    run = RunCli("mux --left " + Quote(dir.file("none.wav")), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("ファイル " + dir.file("none.wav") + " は開けません"), std::string::npos);

    run = RunCli("mux -o " + Quote(dir.path()), dir);  // no file at all: a usage error
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("多重化するファイルが登録されていません"), std::string::npos);

    EXPECT_FALSE(AnyOutput(dir.path()));
    EXPECT_EQ(run.out, "");
}
