// velmora-cli info, run as a process: the interface scripts rely on.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_runner.h"

using namespace velmora::test;

namespace {

WavBuilder Canonical() {
    WavBuilder b;
    b.samples = PatternSamples(44100 + 100, 2, 2);
    return b;
}

}  // namespace

TEST(CliInfo, PlainReportThenHexDump) {
    TempDir dir;
    std::string path = dir.write("song.wav", Canonical().Build());
    CliRun r = RunCli("info '" + path + "'", dir);
    EXPECT_EQ(r.status, 0);
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 16u + 1u + 3u);
    EXPECT_EQ(lines[0], "WAVEチャンク以降のサイズ: 176,836Byte");
    EXPECT_EQ(lines[15], "ファイルサイズ OK/データサイズ OK/フッタ OK");
    EXPECT_EQ(lines[16], "");
    EXPECT_EQ(lines[17], "0000: 52 49 46 46 C4 B2 02 00 57 41 56 45 66 6D 74 20");
    EXPECT_EQ(lines[19], "0020: 04 00 10 00 64 61 74 61 A0 B2 02 00");
    EXPECT_EQ(r.err, "");
}

TEST(CliInfo, SeveralFilesMessagesAndExitStatus) {
    TempDir dir;
    std::string good = dir.write("good.wav", Canonical().Build());
    WavBuilder f = Canonical();
    f.formatTag = 3;
    std::string flt = dir.write("float.wav", f.Build());
    std::string missing = dir.file("none.wav");
    CliRun r = RunCli("info '" + good + "' '" + flt + "' '" + missing + "'", dir);
    EXPECT_EQ(r.status, 1);
    auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "==> " + good + " <==");
    EXPECT_NE(r.out.find("==> " + flt + " <=="), std::string::npos);
    EXPECT_NE(r.out.find("Format ID               : 3"), std::string::npos);
    // Messages go to stderr, with "\r\n" as a line break, each line naming the file.
    EXPECT_NE(
        r.err.find(flt + ": フォーマットIDが無圧縮WAV以外ですので、\n" + flt + ": ヘッダ内容の正確さを保証できません"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("ファイル " + missing + " は開けません"), std::string::npos);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

TEST(CliInfo, UsageErrorIsStatus2) {
    TempDir dir;
    EXPECT_EQ(RunCli("info", dir).status, 2);
    EXPECT_EQ(RunCli("info --no-such-flag x.wav", dir).status, 2);
    EXPECT_EQ(RunCli("", dir).status, 2);
}

TEST(CliInfo, JsonLinesWithEnabledOperations) {
    TempDir dir;
    WavBuilder footer = Canonical();
    footer.trailer = ListChunk(26);
    WavBuilder riff = Canonical();
    riff.riffSize = 176836 + 4;
    WavBuilder reb = Canonical();
    reb.fmtSize = 18;
    WavBuilder ext;
    ext.channels = 6;
    ext.bitsPerSample = 24;
    ext.Extensible(24, 0x3F);
    ext.samples = PatternSamples(10, 6, 3);
    std::string args = "info --jsonl";
    for (auto [name, b] : std::vector<std::pair<std::string, WavBuilder>>{
             {"c.wav", Canonical()}, {"l.wav", footer}, {"r.wav", riff}, {"e.wav", reb}, {"x.wav", ext}})
        args += " '" + dir.write(name, b.Build()) + "'";
    args += " '" + dir.write("tiny.wav", Bytes{'R', 'I', 'F'}) + "'";
    CliRun r = RunCli(args, dir);
    EXPECT_EQ(r.status, 1);  // the tiny file is rejected
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u);
    std::vector<nlohmann::json> j;
    for (auto& l : lines) j.push_back(nlohmann::json::parse(l));

    auto enabledNames = [](const nlohmann::json& o) {
        std::vector<std::string> names;
        for (auto& [k, v] : o["enabled"].items())
            if (v.get<bool>()) names.push_back(k);
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(enabledNames(j[0]), (V{"mux", "normalize", "set-rate", "split", "surround"}));
    EXPECT_EQ(enabledNames(j[1]), (V{"remove-footer"}));
    EXPECT_EQ(enabledNames(j[2]), (V{"fix-riff-size"}));
    EXPECT_EQ(enabledNames(j[3]), (V{"mux", "normalize", "rebuild-header", "set-rate", "split", "surround"}));
    EXPECT_EQ(enabledNames(j[4]), (V{"mux", "set-rate", "split"}));
    EXPECT_EQ(enabledNames(j[5]), V{});

    EXPECT_TRUE(j[0]["complete"].get<bool>());
    EXPECT_EQ(j[0]["waveInfo"]["riffId"], "RIFF");
    EXPECT_EQ(j[0]["waveInfo"]["dataSize"], 176800);
    EXPECT_EQ(j[0]["headerSize"], 44);
    EXPECT_EQ(j[0]["report"].size(), 16u);
    EXPECT_EQ(j[0]["hexDump"].size(), 3u);
    EXPECT_EQ(j[1]["waveInfo"]["listFooterSize"], 34);
    EXPECT_EQ(j[4]["waveInfo"]["channelMask"], 0x3F);
    EXPECT_FALSE(j[5]["complete"].get<bool>());
    EXPECT_EQ(j[5]["why"]["split"]["code"], "no-riff");
}

TEST(CliInfo, AgreesWithSoxi) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    std::string path = dir.file("sox.wav");
    std::string cmd = "sox -n -r 22050 -c 3 -b 16 '" + path + "' synth 1.5 sine 440 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    CliRun r = RunCli("info --jsonl '" + path + "'", dir);
    auto j = nlohmann::json::parse(Lines(r.out).at(0));
    auto soxi = [&](const char* flag) {
        std::string c = std::string("soxi ") + flag + " '" + path + "' > '" + dir.file("soxi.txt") + "'";
        EXPECT_EQ(std::system(c.c_str()), 0);
        Bytes b = ReadFile(dir.file("soxi.txt"));
        return std::stol(std::string(b.begin(), b.end()));
    };
    const auto& w = j["waveInfo"];
    EXPECT_EQ(w["channels"].get<long>(), soxi("-c"));
    EXPECT_EQ(w["samplesPerSec"].get<long>(), soxi("-r"));
    EXPECT_EQ(w["bitsPerSample"].get<long>(), soxi("-b"));
    long frames = w["playSeconds"].get<long>() * w["samplesPerSec"].get<long>() + w["playRemainderFrames"].get<long>();
    EXPECT_EQ(frames, soxi("-s"));
}

// Scripts compare the code of a refusal, never its sentence.
TEST(CliInfo, WhyCarriesACodeBesideTheText) {
    TempDir dir;
    WavBuilder mono;
    mono.channels = 1;
    mono.samples = PatternSamples(100, 1, 2);
    const std::string path = dir.write("mono.wav", mono.Build());
    CliRun r = RunCli("info --jsonl " + Quote(path), dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto why = nlohmann::json::parse(r.out)["why"];
    const struct {
        const char* verb;
        const char* code;
    } expected[] = {{"split", "mono-file"},
                    {"surround", "stereo-only"},
                    {"remove-footer", "no-footer"},
                    {"fix-riff-size", "riff-size-right"},
                    {"recover", "data-size-right"}};
    for (const auto& e : expected) {
        EXPECT_EQ(why[e.verb]["code"], e.code) << e.verb;
        EXPECT_FALSE(why[e.verb]["text"].get<std::string>().empty()) << e.verb;
    }
    EXPECT_FALSE(why.contains("set-rate"));  // offered: no reason
    EXPECT_TRUE(nlohmann::json::parse(r.out)["error"].is_null());

    // A file that cannot be opened says so by a code too.
    r = RunCli("info --jsonl " + Quote(dir.file("none.wav")), dir);
    EXPECT_EQ(nlohmann::json::parse(r.out)["error"]["code"], "cannot-open");
}

TEST(CliInfo, JsonOfAHundredThousandChunkFooterIsTheIndentedDumpOfEachObject) {
    TempDir dir;
    WavBuilder footer;
    footer.samples = PatternSamples(100, 2, 2);
    for (int i = 0; i < 100000; ++i) AppendBytes(footer.trailer, Chunk("JUNK", {}));
    const std::string big = dir.write("footer.wav", footer.Build());
    const std::string plain = dir.write("plain.wav", Canonical().Build());
    CliRun r = RunCli("info --json '" + big + "' '" + plain + "'", dir);
    const auto array = nlohmann::json::parse(r.out);
    ASSERT_EQ(array.size(), 2u);
    // The bytes: each object as dump(2) gives it, with two more spaces on
    // each of its lines inside the array.
    std::string expected = "[";
    for (std::size_t i = 0; i < array.size(); ++i) {
        expected += i == 0 ? "\n  " : ",\n  ";
        for (char c : array[i].dump(2)) {
            expected += c;
            if (c == '\n') expected += "  ";
        }
    }
    expected += "\n]\n";
    EXPECT_TRUE(r.out == expected) << "the output differs from the indented dump";
    // The shape: fmt and data, then the footer's empty chunks, 8 bytes apart.
    const auto& chunks = array[0]["chunks"];
    ASSERT_GT(chunks.size(), 1000u);
    EXPECT_EQ(chunks[0]["id"], "fmt ");
    EXPECT_EQ(chunks[1]["id"], "data");
    std::size_t junk = 0;
    for (std::size_t i = 2; i < chunks.size() && chunks[i]["id"] == "JUNK"; ++i, ++junk) {
        EXPECT_EQ(chunks[i]["size"], 0) << i;
        ASSERT_EQ(chunks[i]["offset"].get<std::uint64_t>(), 44 + 400 + 8 * (i - 2)) << i;
    }
    EXPECT_GE(junk + 3, chunks.size());  // all but the walk's last entry, where it may have stopped
    // --jsonl gives the same object on one line.
    const auto lines = Lines(RunCli("info --jsonl '" + big + "'", dir).out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(lines[0]), array[0]);
}
