// velmora-cli in scripts, through pipes: messages that name their file,
// exit statuses, normalize without a terminal, the dry run and --no-clobber,
// info's JSON forms, help that says what the verbs take, names with control
// characters, and inputs that are not files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "common.h"
#include "ops/operations.h"
#include "ops/records.h"
#include "ops_fixture.h"
#include "special_files.h"
#include "wav/error.h"

using namespace velmora::test;
using velmora::kOperationTable;
using velmora::Operation;
using velmora::OperationEntry;

namespace {


// Every file under the folder with its bytes.
std::map<std::string, Bytes> Snapshot(const std::string& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file() && e.path().filename() != "stderr.txt")
            files[e.path().string()] = ReadFile(e.path().string());
    return files;
}

bool EveryLineStartsWith(const std::string& text, const std::vector<std::string>& prefixes) {
    for (const auto& line : Lines(text)) {
        bool named = false;
        for (const auto& p : prefixes) named = named || line.rfind(p + ": ", 0) == 0;
        if (!named) return false;
    }
    return true;
}

}  // namespace

TEST(CliScripts, ErrorsNameTheirFileAndTheSystemsReason) {
    TempDir dir;
    std::string good = dir.write("good.wav", CliStereo16(100).Build());
    std::string mono = dir.write("mono.wav", [] {
        WavBuilder b = CliStereo16(0);
        b.channels = 1;
        b.samples = PatternSamples(50, 1, 2);
        return b.Build();
    }());
    std::string broken = dir.write("broken.wav", Bytes{'R', 'I', 'F'});
    std::string missing = dir.file("missing.wav");

    // A batch: every file is tried, every line of stderr names its file.
    CliRun r = RunCli("split " + Quote(missing) + " " + Quote(broken) + " " + Quote(mono) + " " + Quote(good), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{dir.file("good(Left)(0).wav"), dir.file("good(Right)(1).wav")}));
    EXPECT_TRUE(EveryLineStartsWith(r.err, {missing, broken, mono})) << r.err;
    EXPECT_NE(r.err.find(missing + ": ファイル " + missing + " は開けません: " + std::strerror(ENOENT)),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(mono + ": split: モノラルのため分離するチャンネルがありません"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    // An output folder that is missing, or is a file: the system says why.
    r = RunCli("split " + Quote(good) + " -o " + Quote(dir.file("no/such")), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, good + ": ファイル " + dir.file("no/such/good(Left)(0).wav") +
                         " を作成できません: " + std::strerror(ENOENT) + "\n");
    r = RunCli("surround " + Quote(good) + " -o " + Quote(good), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string(": ") + std::strerror(ENOTDIR) + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind(good + ": ", 0), 0u) << r.err;

    // A message of several lines names the file on each of them.
    r = RunCli("info " + Quote(broken), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_GE(Lines(r.err).size(), 2u) << r.err;
    EXPECT_TRUE(EveryLineStartsWith(r.err, {broken})) << r.err;
}

TEST(CliScripts, ExitStatuses) {
    TempDir dir;
    std::string good = dir.write("good.wav", CliStereo16(100).Build());
    const Bytes goodBytes = ReadFile(good);
    WavBuilder unfinished = CliStereo16(100);
    unfinished.dataSize = 0;
    unfinished.riffSize = 36;
    std::string cut = dir.write("cut.wav", unfinished.Build());

    // A sound file needs nothing: 0, a note, the file untouched.
    for (const std::string verb : {"recover", "fix-riff-size"}) {
        CliRun r = RunCli(verb + " " + Quote(good), dir);
        EXPECT_EQ(r.status, 0) << verb << r.err;
        EXPECT_EQ(r.out, "") << verb;
        EXPECT_EQ(Lines(r.err).size(), 1u) << verb << r.err;
        EXPECT_EQ(r.err.rfind(good + ": ", 0), 0u) << verb << r.err;
        EXPECT_EQ(ReadFile(good), goodBytes) << verb;
        // -q: no note.
        EXPECT_EQ(RunCli("-q " + verb + " " + Quote(good), dir).err, "") << verb;
    }
    // Beside a file that needed the repair: still 0, that one patched.
    CliRun r = RunCli("recover " + Quote(good) + " " + Quote(cut), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, cut + "\n");
    EXPECT_EQ(ReadU32(ReadFile(cut), 40), 400u);

    // Usage errors: 2, nothing touched, the offending option named.
    struct Usage {
        std::string args, says;
    };
    const std::vector<Usage> usage = {
        {"set-rate 44.1k " + Quote(good), "RATE: '44.1k' は整数ではありません"},
        {"set-rate -- -8000 " + Quote(good), "RATE: '-8000' はサンプリング周波数に使えません"},
        {"surround --delay 2000 " + Quote(good), "--delay: ディレイは0～1000msの範囲内にしてください"},
        {"surround --delay 2x " + Quote(good), "--delay: '2x' は整数ではありません"},
        {"raw2wav --rate fast " + Quote(good), "--rate: 'fast' は整数ではありません"},
        {"mux -o " + Quote(dir.path()), "mux: 多重化するファイルが登録されていません"},
        {"splt " + Quote(good), "velmora-cli: 'splt' is not a verb; the verbs are info, levels, split,"},
        {"", "A subcommand is required"},
    };
    for (const auto& u : usage) {
        r = RunCli(u.args, dir);
        EXPECT_EQ(r.status, 2) << u.args;
        EXPECT_EQ(r.err.rfind(u.says, 0), 0u) << u.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << u.args;
    }
    EXPECT_EQ(ReadFile(good), goodBytes);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"cut.wav", "good.wav"}));

    // A rate that fits one file's frame but not another's fails that file only.
    WavBuilder wide = CliStereo16(0);
    wide.channels = 8;
    wide.bitsPerSample = 32;
    wide.samples = PatternSamples(10, 8, 4);
    std::string eight = dir.write("eight.wav", wide.Build());
    r = RunCli("set-rate 200000000 " + Quote(eight) + " " + Quote(good), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, good + "\n");
    EXPECT_EQ(r.err.rfind(eight + ": ", 0), 0u) << r.err;
}

// A 16-bit peak's dBFS as the minute rows print it.
static std::string PeakDb(int peak) {
    char db[32];
    std::snprintf(db, sizeof db, "%.2f", 20 * std::log10(peak / 32768.0));
    return db;
}

TEST(CliScripts, NormalizeWithoutATerminalMustBeToldWhatToDo) {
    TempDir dir;
    WavBuilder b = CliStereo16(0);
    std::vector<std::int16_t> s(2 * 2000, 10);
    s[2 * 1500] = 8192;
    b.samples = Pcm16(s);
    std::string song = dir.write("song.wav", b.Build());

    CliRun r = RunCli("normalize " + Quote(song), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");  // refused before the scan
    EXPECT_NE(r.err.find("--yes"), std::string::npos);

    r = RunCli("normalize --no " + Quote(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"0 1 8192 " + PeakDb(8192), "ピーク値:8192 "}));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"song.wav"});

    r = RunCli("normalize --yes " + Quote(song), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).back(), dir.file("song(normalize).wav"));
    EXPECT_EQ(RunCli("normalize --yes --no " + Quote(song), dir).status, 2);
}

TEST(CliScripts, DryRunAndNoClobberForEveryVerbThatWrites) {
    TempDir dir;
    std::string song = dir.write("song.wav", CliStereo16(1500).Build());
    WavBuilder eighteen = CliStereo16(100);
    eighteen.fmtSize = 18;
    std::string reb = dir.write("reb.wav", eighteen.Build());
    WavBuilder tagged = CliStereo16(100);
    tagged.trailer = ListChunk(10);
    std::string list = dir.write("list.wav", tagged.Build());
    std::string raw = dir.write("take.pcm", PatternSamples(300, 2, 2));
    WavBuilder monoB = CliStereo16(0);
    monoB.channels = 1;
    monoB.samples = PatternSamples(120, 1, 2);
    std::string mono = dir.write("m.wav", monoB.Build());
    WavBuilder off = CliStereo16(100);
    off.riffSize = 7;
    std::string riff = dir.write("riff.wav", off.Build());
    WavBuilder unfinished = CliStereo16(100);
    unfinished.dataSize = 0xFFFFFFFF;
    std::string cut = dir.write("cut.wav", unfinished.Build());
    WavBuilder tone = CliStereo16(0);
    for (int i = 0; i < 4000; ++i)  // audio that sounds like audio, behind a header that is gone
        for (double gain : {8000.0, 6000.0})
            AppendU16(tone.samples, static_cast<std::uint16_t>(static_cast<std::int16_t>(gain * std::sin(i * 0.05))));
    Bytes headless = tone.Build();
    std::fill(headless.begin(), headless.begin() + 44, 0);
    std::string zeroed = dir.write("zeroed.wav", headless);
    std::string zeroed2 = dir.write("zeroed2.wav", headless);
    std::string toneFile = dir.write("tone.wav", tone.Build());
    std::string intact = dir.write("intact.wav", tone.Build());
    std::string raw2 = dir.write("take2.pcm", PatternSamples(300, 2, 2));

    struct Case {
        Operation op;  // the record the command line runs
        std::string args;
        std::vector<std::string> plan;  // the dry run's lines
        bool inPlace;
    };
    const std::vector<Case> cases = {
        {Operation::Split,
         "split " + Quote(song),
         {"would write " + dir.file("song(Left)(0).wav"), "would write " + dir.file("song(Right)(1).wav")},
         false},
        {Operation::Surround,
         "surround --swap " + Quote(song),
         {"would write " + dir.file("song(EX)(SS) delay(200ms) 4ch.wav")},
         false},
        {Operation::Normalize, "normalize " + Quote(song), {"would write " + dir.file("song(normalize).wav")}, false},
        {Operation::RebuildHeader,
         "rebuild-header " + Quote(reb),
         {"would write " + dir.file("reb(reheader).wav")},
         false},
        {Operation::RemoveFooter,
         "remove-footer " + Quote(list),
         {"would write " + dir.file("list(futta del).wav")},
         false},
        {Operation::RawToWave, "raw2wav " + Quote(raw), {"would write " + dir.file("take.pcm(wavemaker).wav")}, false},
        {Operation::Multiplex,
         "mux --left " + Quote(mono) + " --center " + Quote(mono),
         {"would write " + dir.file("m(EX)(mux).wav")},
         false},
        {Operation::FixRiffSize,
         "fix-riff-size " + Quote(riff),
         {"would patch " + riff + ": RIFF size 7 -> 436"},
         true},
        {Operation::SetRate,
         "set-rate 44100 " + Quote(song),
         {"would patch " + song + ": sampling frequency 1000 -> 44100, byte rate 4000 -> 176400"},
         true},
        {Operation::Recover,
         "recover " + Quote(cut),
         {"would patch " + cut + ": data size 4294967295 -> 400, RIFF size 436 -> 436"},
         true},
        // The rescue forms keep the same promises.
        {Operation::Rescue,
         "recover --like " + Quote(song) + " " + Quote(zeroed),
         {"would write " + dir.file("zeroed(rescue).wav")},
         false},
        {Operation::Rescue,
         "recover --realign " + Quote(toneFile),
         {"would write " + dir.file("tone(realign).wav")},
         false},
        {Operation::Rescue,
         "rescue --like " + Quote(song) + " " + Quote(zeroed2),
         {"would write " + dir.file("zeroed2(rescue).wav")},
         false},
        // A header that reads well does not turn the rescue into a patch.
        {Operation::Rescue,
         "rescue --like " + Quote(toneFile) + " " + Quote(intact),
         {"would write " + dir.file("intact(rescue).wav")},
         false},
        {Operation::DetectRaw,
         "raw2wav --detect --bits 16 " + Quote(raw2),
         {"would write " + dir.file("take2.pcm(wavemaker).wav")},
         false},
    };
    // Every record that writes has its case here: a new one without fails.
    for (const OperationEntry& e : kOperationTable)
        EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const Case& c) { return c.op == e.op; }))
            << e.verb << ": no dry-run case";
    for (const Case& c : cases) {
        const auto before = Snapshot(dir.path());
        CliRun r = RunCli(c.args + " -n", dir);
        EXPECT_EQ(r.status, 0) << c.args << r.err;
        std::vector<std::string> planned = Lines(r.out);
        const bool normalize = c.args.rfind("normalize", 0) == 0;
        if (normalize && !planned.empty()) planned.erase(planned.begin(), planned.end() - 1);  // after the peaks
        EXPECT_EQ(planned, c.plan) << c.args;
        EXPECT_EQ(Snapshot(dir.path()), before) << c.args;

        // The real run writes what was planned.
        r = RunCli(c.args + (normalize ? " --yes" : ""), dir);
        ASSERT_EQ(r.status, 0) << c.args << r.err;
        std::vector<std::string> written = Lines(r.out);
        if (normalize && !written.empty()) written.erase(written.begin(), written.end() - 1);
        ASSERT_EQ(written.size(), c.plan.size()) << c.args;
        for (std::size_t i = 0; i < written.size(); ++i)
            EXPECT_EQ(c.plan[i].rfind((c.inPlace ? "would patch " : "would write ") + written[i], 0), 0u) << c.args;
        if (c.inPlace) continue;

        // Outputs now exist: the dry run says so, --no-clobber leaves them.
        r = RunCli(c.args + " --dry-run", dir);
        EXPECT_EQ(r.out.find("would write "), std::string::npos) << c.args;
        EXPECT_NE(r.out.find("would replace " + written[0]), std::string::npos) << c.args;
        for (const auto& w : written) dir.write(std::filesystem::path(w).filename().string(), Bytes{'o', 'l', 'd'});
        const auto kept = Snapshot(dir.path());
        r = RunCli(c.args + (normalize ? " --yes" : "") + " --no-clobber", dir);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(written[0] + " exists; not replaced (--no-clobber)"), std::string::npos)
            << c.args << r.err;
        EXPECT_EQ(Snapshot(dir.path()), kept) << c.args;
    }
}

TEST(CliScripts, InfoJsonArrayAndJsonLines) {
    TempDir dir;
    WavBuilder six;
    six.channels = 6;
    six.samplesPerSec = 44100;
    six.bitsPerSample = 24;
    six.Extensible(24, 0x3F);
    six.samples = PatternSamples(44100 + 441, 6, 3);
    std::string sixPath = dir.write("six.wav", six.Build());
    WavBuilder three = CliStereo16(0);
    three.channels = 3;
    three.samples = PatternSamples(7, 3, 2);
    std::string threePath = dir.write("three.wav", three.Build());
    std::string tiny = dir.write("tiny.wav", Bytes{'R', 'I', 'F'});

    const std::string files = " " + Quote(sixPath) + " " + Quote(threePath) + " " + Quote(tiny);
    CliRun r = RunCli("info --json" + files, dir);
    EXPECT_EQ(r.status, 1);
    const auto array = nlohmann::json::parse(r.out);
    ASSERT_TRUE(array.is_array());
    ASSERT_EQ(array.size(), 3u);
    EXPECT_DOUBLE_EQ(array[0]["durationSeconds"].get<double>(), 1.01);
    EXPECT_EQ(array[0]["channelLayout"],
              (std::vector<std::string>{"Left", "Right", "Center", "LFE", "S-Left", "S-Right"}));
    EXPECT_DOUBLE_EQ(array[1]["durationSeconds"].get<double>(), 0.007);
    // Three channels, no mask: the usual layout.
    EXPECT_EQ(array[1]["channelLayout"], (std::vector<std::string>{"Left", "Right", "Center"}));
    EXPECT_TRUE(array[2]["durationSeconds"].is_null());
    EXPECT_EQ(array[2]["messages"][0], "RIFFチャンクがありません\n中断します");
    for (const auto& j : array) EXPECT_FALSE(j["waveInfo"].contains("droppedFileName"));

    // --jsonl: the same objects, one compact one per line.
    r = RunCli("info --jsonl" + files, dir);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(nlohmann::json::parse(lines[i]), array[i]) << i;
    EXPECT_EQ(RunCli("info --json --jsonl" + files, dir).status, 2);
    EXPECT_EQ(nlohmann::json::parse(RunCli("info --json " + Quote(dir.file("none.wav")), dir).out).size(), 1u);
}

TEST(CliScripts, HelpSaysWhatEachVerbTakes) {
    TempDir dir;
    struct Format {
        std::uint16_t bits;
        bool isFloat;
    };
    const Format formats[] = {{8, false}, {16, false}, {24, false}, {32, false}, {32, true}, {64, true}};
    const auto stereo = [&](Format f) {
        WavBuilder b;
        b.samplesPerSec = 1000;
        b.bitsPerSample = f.bits;
        if (f.isFloat) b.formatTag = 3;
        b.samples = PatternSamples(100, 2, f.bits / 8);
        return dir.write(std::to_string(f.bits) + (f.isFloat ? "f" : "i") + ".wav", b.Build());
    };
    // The help's words, and the formats a dry run takes (8-bit only for split).
    for (const std::string verb : {"split", "surround", "normalize"}) {
        CliRun help = RunShell("COLUMNS=200 " + std::string(VELMORA_CLI) + " " + verb + " --help", dir);
        EXPECT_NE(help.out.find(verb == "split" ? "8/16/24/32-bit integer and 32/64-bit float"
                                                : "16/24/32-bit integer or 32/64-bit float"),
                  std::string::npos)
            << verb << help.out;
        for (Format f : formats) {
            const int expected = (f.bits == 8 && verb != "split") ? 1 : 0;
            EXPECT_EQ(RunCli(verb + " -n " + Quote(stereo(f)), dir).status, expected)
                << verb << " " << f.bits << f.isFloat;
        }
    }
    CliRun help = RunShell("COLUMNS=200 " + std::string(VELMORA_CLI) + " surround --help", dir);
    EXPECT_NE(help.out.find("0-1000 (default 200)"), std::string::npos) << help.out;
    EXPECT_NE(RunCli("--help", dir).out.find("  2  usage"), std::string::npos);
}

namespace velmora::test {

// Every record reaches the command line whole: a verb that answers --help
// and completes, a manual page entry for the verb and each of its options,
// and a line in the README.
TEST(CliScripts, EveryOperationHasItsVerbCompletionAndManualEntry) {
    TempDir dir;
    const Bytes manBytes = ReadFile(std::string(VELMORA_PACKAGING) + "/velmora-cli.1.in");
    const std::string man(manBytes.begin(), manBytes.end());
    ASSERT_FALSE(man.empty());
    const CliRun complete = RunCli("--complete", dir);
    ASSERT_EQ(complete.status, 0) << complete.err;
    const std::vector<std::string> verbs = Lines(complete.out);
    const std::string verbSection = man.substr(man.find(".SH VERBS"));
    const Bytes readmeBytes = ReadFile(std::string(VELMORA_PACKAGING) + "/../README.md");
    const std::string readme(readmeBytes.begin(), readmeBytes.end());
    const auto roff = [](const std::string& text) {
        std::string escaped;
        for (char ch : text) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
        return escaped;
    };
    for (const OperationEntry& e : kOperationTable) {
        const std::string verb = e.verb;
        SCOPED_TRACE(verb);
        const CliRun help = RunCli(verb + " --help", dir);
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_NE(help.out.find("velmora-cli " + verb), std::string::npos);
        EXPECT_NE(std::find(verbs.begin(), verbs.end(), verb), verbs.end()) << "not completed";
        EXPECT_NE(verbSection.find("\n.B " + roff(verb) + "\n"), std::string::npos) << roff(verb);
        for (const velmora::VerbOption& option : velmora::RecordOf(e.op).options) {
            std::string name = option.names;
            name = name.substr(name.rfind(',') + 1);
            if (name[0] == '-') {
                EXPECT_NE(verbSection.find(roff(name)), std::string::npos) << name << ": no manual entry";
            }
        }
        EXPECT_NE(readme.find("velmora-cli " + verb + " "), std::string::npos) << "README's verb list";
    }
}

}  // namespace velmora::test

// ---- What reaches a terminal ----------------------------------------------------

TEST(CliScripts, TerminalTextEscapesEveryControlAndKeepsUtf8) {
    struct Row {
        std::string in, shown;
    };
    const std::vector<Row> rows = {
        {"take 12:30 a\\b.wav", "take 12:30 a\\b.wav"},
        {"録音 テイク１.wav", "録音 テイク１.wav"},
        {"a\x1b]0;owned\x07"
         "b",
         "a\\x1B]0;owned\\x07b"},
        {"a\nb\r\tc", "a\\x0Ab\\x0D\\x09c"},
        {"del\x7f", "del\\x7F"},
        {"csi\xc2\x9b"
         "2J",
         "csi\\xC2\\x9B2J"},  // U+009B in UTF-8
        {"lone\x9b"
         "2J",
         "lone\\x9B2J"},                             // CSI of an 8-bit terminal
        {"latin\xff\xfe\xe9", "latin\xff\xfe\xe9"},  // not UTF-8, not controls
        {"cut\xe3\x81", "cut\xe3\\x81"},             // a sequence cut short
        {"overlong\xe0\x80\xaf", "overlong\xe0\\x80\xaf"},
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
    };
    for (const Row& r : rows) EXPECT_EQ(velmora::cli::TerminalText(r.in), r.shown) << r.shown;
    // The progress line names the file the same way.
    velmora::cli::ProgressLine line("dir/a\x1b]0;x\x07\n.wav");
    EXPECT_EQ(line.text(0.5, 1).rfind("a\\x1B]0;x\\x07\\x0A.wav  ", 0), 0u) << line.text(0.5, 1);
}

TEST(CliScripts, NamesAreEscapedInEveryLineThatShowsThem) {
    TempDir dir;
    // An OSC sequence that would retitle the terminal, and a line break.
    const std::string base = "take\x1b]0;owned\x07\nx";
    const std::string shown = dir.path() + "/take\\x1B]0;owned\\x07\\x0Ax";
    const std::string src = dir.write(base + ".wav", CliStereo16(100).Build());
    const std::string other = dir.write("other.wav", CliStereo16(100).Build());
    WavBuilder monoB = CliStereo16(0);
    monoB.channels = 1;
    monoB.samples = PatternSamples(50, 1, 2);
    const std::string mono = dir.write(base + "m.wav", monoB.Build());
    const std::string missing = dir.file(base + "-none.wav");

    struct Case {
        std::string args;
        bool onStdout;
        std::vector<std::string> lines;  // each a whole line of that stream
    };
    // In order: the dry run before the split, --no-clobber after it.
    const std::vector<Case> cases = {
        {"split -n " + Quote(src),
         true,
         {"would write " + shown + "(Left)(0).wav", "would write " + shown + "(Right)(1).wav"}},
        {"split " + Quote(src), true, {shown + "(Left)(0).wav", shown + "(Right)(1).wav"}},
        {"split --no-clobber " + Quote(src),
         false,
         {shown + ".wav: " + shown + "(Left)(0).wav exists; not replaced (--no-clobber)"}},
        {"-v split " + Quote(src), false, {shown + ".wav: 書込中: " + shown + "(Left)(0).wav"}},
        {"info " + Quote(src) + " " + Quote(other), true, {"==> " + shown + ".wav <=="}},
        {"normalize --no " + Quote(src) + " " + Quote(other), true, {"==> " + shown + ".wav <=="}},
        {"info " + Quote(missing),
         false,
         {shown + "-none.wav: " + velmora::TextCannotOpen(shown + "-none.wav") + ": " + std::strerror(ENOENT)}},
        {"mux --left " + Quote(mono), true, {shown + "m(mux).wav"}},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        for (const std::string* stream : {&r.out, &r.err}) {
            EXPECT_EQ(stream->find('\x1b'), std::string::npos) << c.args;
            EXPECT_EQ(stream->find('\x07'), std::string::npos) << c.args;
        }
        const std::vector<std::string> lines = Lines(c.onStdout ? r.out : r.err);
        for (const std::string& line : c.lines)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << c.args << "\n"
                                                                                << line << "\n"
                                                                                << r.out << r.err;
    }

    // JSON: every control escaped, C1 ones too; the parsed path is the name itself.
    const std::string c1 = dir.write(
        "c1\xc2\x9b"
        "2J\x1b.wav",
        CliStereo16(10).Build());
    for (const std::string form : {"--json", "--jsonl"}) {
        const CliRun r = RunCli("info " + form + " " + Quote(c1) + " " + Quote(src), dir);
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << form;
        EXPECT_EQ(r.out.find("\xc2\x9b"), std::string::npos) << form;
        EXPECT_NE(r.out.find("c1\\u009b2J\\u001b.wav"), std::string::npos) << form << r.out;
        std::vector<nlohmann::json> objects;
        if (form == "--json")
            for (const auto& j : nlohmann::json::parse(r.out)) objects.push_back(j);
        else
            for (const auto& line : Lines(r.out)) objects.push_back(nlohmann::json::parse(line));
        ASSERT_EQ(objects.size(), 2u) << form;
        EXPECT_EQ(objects[0]["path"], c1) << form;
        EXPECT_EQ(objects[1]["path"], src) << form;
    }
}

// ---- Inputs that are not files, in a batch --------------------------------------

TEST(CliScripts, ABatchGoesOnPastAFifoASocketOrADevice) {
    TempDir dir;
    SpecialFiles special(dir);
    ASSERT_EQ(special.all().size(), 3u);
    const std::string a = dir.write("a.wav", CliStereo16(100).Build());
    const std::string b = dir.write("b.wav", CliStereo16(100).Build());
    struct Verb {
        std::string name;
        std::vector<std::string> out;  // stdout lines that must be there: a's and b's
    };
    const std::vector<Verb> verbs = {
        {"info", {"==> " + a + " <==", "==> " + b + " <=="}},
        {"split", {dir.file("a(Left)(0).wav"), dir.file("b(Right)(1).wav")}},
        {"raw2wav", {dir.file("a.wav(wavemaker).wav"), dir.file("b.wav(wavemaker).wav")}},
    };
    for (const auto& [kind, path] : special.all()) {
        for (const Verb& v : verbs) {
            SCOPED_TRACE(kind + " " + v.name);
            // A FIFO with no writer would keep the run waiting: timeout ends it (status 124).
            const CliRun r = RunShell("timeout 30 " + std::string(VELMORA_CLI) + " " + v.name + " " + Quote(a) + " " +
                                          Quote(path) + " " + Quote(b),
                                      dir);
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(r.err, path + ": " + velmora::TextNotRegularFile(path) + "\n");
            const std::vector<std::string> lines = Lines(r.out);
            for (const std::string& line : v.out)
                EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << r.out;
        }
    }
}

// ---- --no-clobber and what is at the name ---------------------------------------

TEST(CliScripts, NoClobberKeepsAnyEntryAtTheOutputNameLinksIncluded) {
    TempDir dir;
    const std::string song = dir.write("song.wav", CliStereo16(100).Build());
    const std::string victim = dir.write("victim.wav", Bytes{'k', 'e', 'e', 'p'});
    const std::string out = dir.file("song(Left)(0).wav");
    struct Entry {
        const char* kind;
        std::function<void()> make;
    };
    const std::vector<Entry> entries = {
        {"dangling link", [&] { std::filesystem::create_symlink("nowhere.wav", out); }},
        {"link to a file", [&] { std::filesystem::create_symlink(victim, out); }},
        {"file",
         [&] {
             dir.write("song(Left)(0).wav", Bytes{'o', 'l', 'd'});
         }},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.kind);
        e.make();
        const auto before = Snapshot(dir.path());
        const auto type = std::filesystem::symlink_status(out).type();
        const bool link = type == std::filesystem::file_type::symlink;
        const std::filesystem::path target = link ? std::filesystem::read_symlink(out) : "";
        CliRun r = RunCli("split --no-clobber " + Quote(song), dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(out + " exists; not replaced (--no-clobber)"), std::string::npos) << r.err;
        EXPECT_EQ(std::filesystem::symlink_status(out).type(), type);
        if (link) {
            EXPECT_EQ(std::filesystem::read_symlink(out), target);
        }
        EXPECT_EQ(Snapshot(dir.path()), before);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("song(Right)(1).wav"))));
        // The dry run counts the entry as replaced too.
        r = RunCli("split -n " + Quote(song), dir);
        EXPECT_EQ(Lines(r.out).at(0), "would replace " + out);
        std::filesystem::remove(out);
    }
}
