// velmora-cli levels, and normalize's loudness and peak targets, run as
// processes on signals made here (or by sox and espeak-ng), with ffmpeg's
// loudness meter as the oracle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "error_of.h"
#include "ops_fixture.h"

using namespace velmora::test;

namespace {

using Wave = std::function<double(std::size_t frame, int channel)>;

// `frames` frames of `wave` (full scale 1.0) in the given sample format.
Bytes Encode(const Wave& wave, std::size_t frames, int channels, int bits, bool isFloat) {
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double v = wave(i, c);
            if (isFloat && bits == 32) {
                const float f = static_cast<float>(v);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                AppendU32(out, u);
            } else if (isFloat) {
                std::uint64_t u;
                std::memcpy(&u, &v, 8);
                AppendU64(out, u);
            } else {
                const double top = std::ldexp(1.0, bits - 1);
                auto n = static_cast<std::int64_t>(std::clamp(std::nearbyint(v * top), -top, top - 1));
                if (bits == 8) n += 128;
                for (int k = 0; k < bits / 8; ++k) out.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
            }
        }
    return out;
}

WavBuilder Build(const Wave& wave, double seconds, int channels, int bits, bool isFloat, std::uint32_t mask = 0) {
    WavBuilder b;
    b.samplesPerSec = 48000;
    b.channels = static_cast<std::uint16_t>(channels);
    b.bitsPerSample = static_cast<std::uint16_t>(bits);
    b.formatTag = isFloat ? 3 : 1;
    if (mask != 0 || bits > 16) b.Extensible(static_cast<std::uint16_t>(bits), mask);
    if (isFloat) b.subFormatTag = 3;
    b.samples = Encode(wave, static_cast<std::size_t>(seconds * 48000), channels, bits, isFloat);
    return b;
}

Wave Sine(double dbfs, double hz, double phase = 0, int only = -1) {
    const double a = std::pow(10.0, dbfs / 20);
    return [=](std::size_t i, int c) {
        return only >= 0 && c != only ? 0.0 : a * std::sin(2 * M_PI * hz * static_cast<double>(i) / 48000 + phase);
    };
}

nlohmann::json LevelsOf(const std::string& path, const TempDir& dir) {
    const CliRun r = RunCli("levels --json " + Quote(path), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out).at(0);
}

double Max(const nlohmann::json& j, const char* key) {
    double m = -1e9;
    for (const auto& c : j["channels"]) m = std::max(m, c[key].get<double>());
    return m;
}

// ffmpeg's integrated loudness of a file.
double FfmpegLoudness(const std::string& path, const TempDir& dir) {
    const CliRun r =
        RunShell("ffmpeg -nostdin -nostats -hide_banner -i " + Quote(path) + " -af ebur128 -f null -", dir);
    // Its summary, on stderr, after a line per 100 ms.
    const std::size_t summary = r.err.rfind("Summary:");
    const std::size_t at = r.err.find("I:", summary == std::string::npos ? 0 : summary);
    EXPECT_NE(at, std::string::npos) << r.err;
    return at == std::string::npos ? 0.0 : std::stod(r.err.substr(at + 2));
}

}  // namespace

// EBU Tech 3341 cases 1 and 2 (1 kHz, both channels, 20 s), in every sample
// format: the loudness, the sample peak at the crest and the RMS of a sine.
TEST(Levels, ReferenceSinesReadTheirLevelsInEveryFormat) {
    struct Row {
        double dbfs;
        int bits;
        bool isFloat;
    };
    const Row rows[] = {{-23, 16, false}, {-33, 24, false}, {-23, 32, false},
                        {-33, 32, true},  {-23, 64, true},  {-23, 8, false}};
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.bits) + (r.isFloat ? " float " : " int ") + std::to_string(r.dbfs));
        const std::string path = dir.write("sine.wav", Build(Sine(r.dbfs, 1000), 20, 2, r.bits, r.isFloat).Build());
        const nlohmann::json j = LevelsOf(path, dir);
        EXPECT_NEAR(j["integrated"].get<double>(), r.dbfs, 0.1);
        EXPECT_NEAR(j["momentaryMax"].get<double>(), r.dbfs, 0.1);
        EXPECT_NEAR(j["shortTermMax"].get<double>(), r.dbfs, 0.1);
        EXPECT_NEAR(j["range"].get<double>(), 0, 0.1);
        ASSERT_EQ(j["channels"].size(), 2u);
        const double quantum = r.bits == 8 ? 0.1 : 0.01;
        for (const auto& c : j["channels"]) {
            EXPECT_NEAR(c["samplePeak"].get<double>(), r.dbfs, quantum);
            EXPECT_NEAR(c["rms"].get<double>(), r.dbfs - 10 * std::log10(2.0), quantum);
            EXPECT_GE(c["truePeak"].get<double>(), c["samplePeak"].get<double>());
        }
    }
}

// A sine at a quarter of the rate whose samples miss its crests reads a true
// peak above its sample peak; the BS.1770 weights follow the channel mask
// (surrounds +1.5 dB, LFE out) or the usual layout of the count; silence
// reads -inf.
TEST(Levels, TruePeakChannelWeightsAndSilence) {
    TempDir dir;
    const std::string crest = dir.write("crest.wav", Build(Sine(-6, 12000, M_PI / 4), 5, 2, 16, false).Build());
    const nlohmann::json c = LevelsOf(crest, dir);
    EXPECT_GT(c["channels"][0]["truePeak"].get<double>(), c["channels"][0]["samplePeak"].get<double>() + 2.5);

    const double surround = 10 * std::log10(1.41);
    struct Row {
        int channels;
        std::uint32_t mask;  // 0: the usual layout
        int active;
        std::optional<double> offset;  // against the sine in a front channel alone; none: not measured
    };
    const Row rows[] = {{6, 0, 0, 0.0},      {6, 0, 4, surround},     {6, 0, 3, std::nullopt}, {1, 0, 0, 0.0},
                        {8, 0, 6, surround}, {2, 0x600, 1, surround}, {4, 0x107, 3, 0.0}};
    const std::string front = dir.write("front.wav", Build(Sine(-20, 1000, 0, 0), 5, 2, 16, false).Build());
    const double reference = LevelsOf(front, dir)["integrated"].get<double>();
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.channels) + " channels, active " + std::to_string(r.active));
        const std::string path =
            dir.write("w.wav", Build(Sine(-20, 1000, 0, r.active), 5, r.channels, 16, false, r.mask).Build());
        const nlohmann::json j = LevelsOf(path, dir);
        if (r.offset)
            EXPECT_NEAR(j["integrated"].get<double>(), reference + *r.offset, 0.02);
        else
            EXPECT_TRUE(j["integrated"].is_null()) << j.dump();
    }

    const std::string silent =
        dir.write("silent.wav", Build([](std::size_t, int) { return 0.0; }, 2, 2, 16, false).Build());
    const nlohmann::json s = LevelsOf(silent, dir);
    for (const char* key : {"integrated", "momentaryMax", "shortTermMax"}) EXPECT_TRUE(s[key].is_null()) << key;
    for (const char* key : {"samplePeak", "truePeak", "rms"}) EXPECT_TRUE(s["channels"][1][key].is_null()) << key;
    const CliRun text = RunCli("levels " + Quote(silent), dir);
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("-inf"), std::string::npos) << text.out;
}

// Pink noise, speech and plucked chords read what ffmpeg's meter reads.
TEST(Levels, LoudnessAgreesWithFfmpegOnNoiseSpeechAndMusic) {
    if (!HasTool("sox") || !HasTool("espeak-ng") || !HasTool("ffmpeg"))
        GTEST_SKIP() << "sox, espeak-ng or ffmpeg missing";
    TempDir dir;
    const std::string q = dir.path() + "/";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"pink.wav", "sox -R -n -r 48000 -c 2 -b 16 " + Quote(q + "pink.wav") + " synth 10 pinknoise vol 0.3"},
        {"speech.wav", "espeak-ng -w " + Quote(q + "speech.wav") +
                           " 'Loudness is measured over gated blocks of four hundred milliseconds.'"},
        {"music.wav", "sox -R -n -r 44100 -c 2 -b 24 " + Quote(q + "music.wav") +
                          " synth 3 pluck C3 pluck E3 pluck G3 : synth 3 pluck A2 pluck C3 pluck E3"},
    };
    for (const auto& [name, make] : rows) {
        SCOPED_TRACE(name);
        ASSERT_EQ(std::system((make + " 2>/dev/null").c_str()), 0) << make;
        const double ours = LevelsOf(q + name, dir)["integrated"].get<double>();
        EXPECT_NEAR(ours, FfmpegLoudness(q + name, dir), 0.2);
    }
}

// normalize --lufs and --peak reach their targets; a loudness target that
// would lift the true peak past its limit is refused by code, nothing
// written; levels refuses what it cannot read.
TEST(Levels, NormalizeTargetsAndRefusals) {
    TempDir dir;
    const Wave chord = [](std::size_t i, int c) {
        const double t = static_cast<double>(i) / 48000;
        return 0.3 * std::sin(2 * M_PI * 220 * t) +
               0.2 * std::sin(2 * M_PI * (330 + 110 * c) * t) * std::exp(-std::fmod(t, 1.0) * 3);
    };
    struct Row {
        std::string args;
        const char* key;  // what the output reads
        double want;
        double within;
    };
    const Row rows[] = {
        {"--lufs -23", "integrated", -23, 0.1},
        {"--lufs -16 --true-peak-limit -0.5", "integrated", -16, 0.1},
        {"--peak -1", "samplePeak", -1, 0.01},
        {"--peak -6.5", "samplePeak", -6.5, 0.01},
    };
    for (const int bits : {16, 24}) {
        const std::string src = dir.write("chord.wav", Build(chord, 8, 2, bits, false).Build());
        for (const Row& r : rows) {
            SCOPED_TRACE(r.args + " " + std::to_string(bits));
            const CliRun run = RunCli("normalize --yes " + r.args + " " + Quote(src), dir);
            ASSERT_EQ(run.status, 0) << run.err;
            const nlohmann::json j = LevelsOf(dir.file("chord(normalize).wav"), dir);
            const double got = std::string(r.key) == "integrated" ? j["integrated"].get<double>() : Max(j, r.key);
            EXPECT_NEAR(got, r.want, r.within);
            std::filesystem::remove(dir.file("chord(normalize).wav"));
        }
    }
    const std::string src = dir.file("chord.wav");
    // The chord's loudness is about -11 LUFS, its true peak about -6 dBTP.
    for (const std::string args : {"--lufs -2", "--lufs -9 --true-peak-limit -6"}) {
        const CliRun run = RunCli("normalize --yes " + args + " " + Quote(src), dir);
        EXPECT_EQ(run.status, 1);
        ASSERT_EQ(run.err.rfind(src + ": ", 0), 0u) << run.err;
        EXPECT_EQ(CodeOf(run.err.substr(src.size() + 2, run.err.size() - src.size() - 3)), "true-peak-over-limit");
        EXPECT_FALSE(std::filesystem::exists(dir.file("chord(normalize).wav")));
    }

    WavBuilder adpcm = Build(chord, 1, 2, 16, false);
    adpcm.formatTag = 2;
    WavBuilder nine = Build(chord, 1, 9, 16, false);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {dir.write("adpcm.wav", adpcm.Build()), "compressed"},
        {dir.write("nine.wav", nine.Build()), "too-many-channels"},
    };
    for (const auto& [path, code] : refused) {
        const CliRun run = RunCli("levels --jsonl " + Quote(path), dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["code"], code) << run.out;
    }
}

// The verb reaches the command line whole, as every record's does.
TEST(Levels, HasItsCompletionManualEntryAndReadmeLine) {
    TempDir dir;
    const Bytes man = ReadFile(std::string(VELMORA_PACKAGING) + "/velmora-cli.1.in");
    const Bytes readme = ReadFile(std::string(VELMORA_PACKAGING) + "/../README.md");
    EXPECT_NE(std::string(man.begin(), man.end()).find("\n.B levels\n"), std::string::npos);
    EXPECT_NE(std::string(readme.begin(), readme.end()).find("velmora-cli levels "), std::string::npos);
    const std::vector<std::string> verbs = Lines(RunCli("--complete", dir).out);
    EXPECT_NE(std::find(verbs.begin(), verbs.end(), "levels"), verbs.end());
    EXPECT_EQ(Lines(RunCli("--complete levels", dir).out).at(1), "files wav");
}
