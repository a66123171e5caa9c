// Every operation the analysis enables, run on every file of the hostile
// corpus that the analysis completes: each ends with its expected output or
// message, and none breaks the rules of op_harness.h (sources unchanged,
// nothing beside the output folder, no open file, headers that describe
// their files, in-place repairs confined to their bytes).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "io/paths.h"
#include "error_of.h"
#include "hostile_corpus.h"
#include "ops_fixture.h"
#include "op_harness.h"
#include "ops/second_blocks.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::test::hostile;

namespace {

// One line per operation that ran: "wrote N", "failed: <code>" or
// "message: <code>" (a refusal through the host, nothing written); the code
// as CodeOf gives it.
std::string Summary(const harness::Outcome& o) {
    if (o.failure) return "failed: " + CodeOf(*o.failure);
    if (o.written.empty() && !o.messages.empty()) return "message: " + CodeOf(o.messages.front());
    return "wrote " + std::to_string(o.written.size());
}

std::map<std::string, std::string> Summaries(const harness::Report& r) {
    std::map<std::string, std::string> m;
    for (const auto& o : r.ops) m[o.op] = Summary(o);
    return m;
}

using Expected = std::map<std::string, std::string>;

const std::string kNotMono = "message: mono-only";

// A consistent 16-bit stereo file with a 16-byte format chunk at 12 (the
// rebuild is not offered for it).
Expected Consistent() {
    return {{"split", "wrote 2"},    {"surround", "wrote 1"}, {"normalize", "wrote 1"},
            {"multiplex", kNotMono}, {"raw2wav", "wrote 1"},  {"sampleRate", "wrote 1"}};
}
Expected With(Expected e, const std::map<std::string, std::string>& changes) {
    for (const auto& [op, v] : changes) {
        if (v.empty())
            e.erase(op);
        else
            e[op] = v;
    }
    return e;
}
// Only the RIFF size rewrite and the raw conversion: a file whose sizes
// disagree with its length.
const Expected kInconsistent = {{"riffSize", "wrote 1"}, {"raw2wav", "wrote 1"}};
const Expected kRawOnly = {{"raw2wav", "wrote 1"}};
const Expected kRawAndRecover = {{"raw2wav", "wrote 1"}, {"recover", "wrote 1"}};

struct Expect {
    Expected ops;
    // Further checks on what the operations wrote.
    std::function<void(const harness::Report&)> check = nullptr;
};

const harness::Outcome& Op(const harness::Report& r, const std::string& op) {
    static const harness::Outcome none;
    const harness::Outcome* o = r.find(op);
    EXPECT_NE(o, nullptr) << op;
    return o ? *o : none;
}
const Bytes& OnlyFile(const harness::Report& r, const std::string& op) {
    static const Bytes none;
    const harness::Outcome& o = Op(r, op);
    EXPECT_EQ(o.files.size(), 1u) << op;
    return o.files.empty() ? none : o.files[0];
}

std::map<std::string, Expect> ExpectedOutcomes() {
    const std::string badLayout = "failed: unusable-layout";
    const std::uint32_t canonicalData = 8017 * 4;
    std::map<std::string, Expect> m;
    for (const char* n :
         {"cut0",       "cut1",     "cut3",          "cut4",     "cut8",          "cut12",       "cut15",
          "cut16",      "cut20",    "cut24",         "cut36",    "cut39",         "blockAlign0", "rate0",
          "zeroFields", "fmtSize0", "fmtSplitAtEnd", "riffOnly", "riffLowercase", "allOnes",     "riffThenZeros"})
        m[n] = {kRawOnly};
    // Data sizes past the end: the recovery patches them, the raw conversion
    // runs as always.
    for (const char* n : {"cut44", "cut45", "cut1000", "dataSizeMax", "dataSize0"}) m[n] = {kRawAndRecover};
    // 40 and 43 bytes: the data size field is cut off, so the RIFF size
    // matches neither the file nor header + data, and no recovery applies.
    for (const std::uint32_t length : {40u, 43u})
        m["cut" + std::to_string(length)] = {kInconsistent, [length](const harness::Report& r) {
                                                 const Bytes& f = OnlyFile(r, "riffSize");
                                                 ASSERT_EQ(f.size(), length);
                                                 EXPECT_EQ(harness::U32(f, 4), length - 8);
                                             }};
    m["riffTooLarge"] = {kInconsistent, [](const harness::Report& r) {
                             const Bytes& f = OnlyFile(r, "riffSize");
                             EXPECT_EQ(harness::U32(f, 4), f.size() - 8);
                         }};
    // A format chunk of any size but 16 is rebuilt into the plain one.
    const Expected rebuilt = With(Consistent(), {{"rebuild", "wrote 1"}});
    m["fmtSizeMax"] = {rebuilt};
    m["fmtSizeOdd"] = {rebuilt};
    m["formTypeNotWave"] = {Consistent(), [](const harness::Report& r) {
                                // Copied into every new header as read.
                                for (const auto& f : Op(r, "split").files) EXPECT_EQ(f.at(8), 'A');
                                EXPECT_EQ(OnlyFile(r, "surround").at(8), 'A');
                            }};
    m["dataAt2046"] = {Consistent(), [](const harness::Report& r) {
                           // The copied header keeps the 2 KiB before the data.
                           EXPECT_EQ(OnlyFile(r, "normalize").size(), 2046u + 8 + canonicalData);
                       }};
    // Found through the chain at any distance.
    for (const char* n : {"dataAt2048", "dataAt2049"}) m[n] = {Consistent()};
    for (const char* n : {"fmtAt2047", "fmtAt2048", "fmtAt2049"}) m[n] = {With(Consistent(), {{"rebuild", "wrote 1"}})};
    m["extensibleAllMask"] = {rebuilt, [](const harness::Report& r) {
                                  // The plain form says integer PCM, whatever tag the source had.
                                  EXPECT_EQ(ReadU16(OnlyFile(r, "rebuild"), 20), 1u);
                                  const auto& split = Op(r, "split").written;
                                  ASSERT_EQ(split.size(), 2u);
                                  EXPECT_NE(split[0].find("(Left)(0).wav"), std::string::npos);
                                  EXPECT_NE(split[1].find("(Right)(1).wav"), std::string::npos);
                              }};
    // Channel counts the 16-bit stereo operations are not offered for.
    // A layout the transforms cannot walk is not offered to them.
    m["channels0"] = {{{"multiplex", kNotMono}, {"raw2wav", "wrote 1"}, {"sampleRate", "wrote 1"}}};
    m["channels65535"] = m["channels0"];
    m["blockAlign8000"] = {With(Consistent(), {{"split", ""}, {"surround", ""}, {"normalize", ""}})};
    m["rateNegative"] = m["blockAlign8000"];
    m["rateMinusOne"] = m["blockAlign8000"];
    m["cbSizeNegative"] = {{{"multiplex", kNotMono}, {"raw2wav", "wrote 1"}, {"sampleRate", "wrote 1"}}};
    // The LIST size wraps to 4, or claims more than follows: the copy still
    // holds exactly the samples.
    m["listSizeWraps"] = {{{"removeFooter", "wrote 1"}, {"raw2wav", "wrote 1"}}, [](const harness::Report& r) {
                              EXPECT_EQ(OnlyFile(r, "removeFooter"), Canonical().Build());
                          }};
    // 3 bytes after the samples, fewer than a frame: a recording cut inside
    // its last frame, no footer.
    m["listCut"] = {Consistent()};
    m["listFooter"] = {{{"removeFooter", "wrote 1"}, {"raw2wav", "wrote 1"}},
                       [](const harness::Report& r) { EXPECT_EQ(OnlyFile(r, "removeFooter"), Canonical().Build()); }};
    m["listClaimsTooMuch"] = m["listSizeWraps"];
    // Half a frame after the last: the new headers count whole frames (the
    // split and surround outputs hold them alone), or the partial frame
    // follows (the source bytes in the normalized copy).
    m["stereoPartialFrame"] = {Consistent(), [=](const harness::Report& r) {
                                   for (const auto& f : Op(r, "split").files) {
                                       EXPECT_EQ(harness::U32(f, 40), 8017u * 2);
                                       EXPECT_EQ(f.size(), 44u + 8017 * 2);
                                   }
                                   const Bytes& s = OnlyFile(r, "surround");
                                   ASSERT_EQ(s.size(), 68u + 2 * canonicalData);
                                   EXPECT_EQ(harness::U32(s, 64), 2 * canonicalData);
                                   const Bytes& n = OnlyFile(r, "normalize");
                                   ASSERT_EQ(n.size(), 44u + canonicalData + 2);
                                   EXPECT_EQ(Bytes(n.end() - 2, n.end()), Bytes(2, 0x5A));
                               }};
    // The rebuild copies whole frames and its sizes say so.
    m["fmt18PartialFrame"] = {With(Consistent(), {{"rebuild", "wrote 1"}}), [=](const harness::Report& r) {
                                  const Bytes& f = OnlyFile(r, "rebuild");
                                  EXPECT_EQ(f.size(), 44u + canonicalData);
                                  EXPECT_EQ(harness::U32(f, 40), canonicalData);
                                  EXPECT_EQ(harness::U32(f, 4), f.size() - 8);
                              }};
    m["fmt18"] = {With(Consistent(), {{"rebuild", "wrote 1"}}),
                  [](const harness::Report& r) { EXPECT_EQ(OnlyFile(r, "rebuild"), Canonical().Build()); }};
    // 8 bytes a frame for 16-bit stereo: the split moves 4-byte samples, the
    // operations on 4-byte frames refuse.
    // Frames of 8 bytes for 16-bit stereo: nothing that walks frames is offered.
    m["blockAlign8"] = {With(Consistent(), {{"split", ""}, {"surround", ""}, {"normalize", ""}})};
    m["fmt18BlockAlign8"] = m["blockAlign8"];
    // A mono file at rows 0 and 1: two channels of its whole frames.
    m["monoPartialFrame"] = {{{"multiplex", "wrote 1"}, {"raw2wav", "wrote 1"}, {"sampleRate", "wrote 1"}},
                             [](const harness::Report& r) {
                                 const Bytes& f = OnlyFile(r, "multiplex");
                                 EXPECT_EQ(harness::U32(f, 40), 8009u * 4);
                                 EXPECT_EQ(f.at(22), 2);
                             }};
    // Broken descriptive chunks before the samples change nothing the
    // operations do: split and surround write their own headers without
    // them, normalize copies the header with them.
    for (const Case& c : MetadataCases()) m[c.name] = {Consistent()};
    m["bextShort"].check = [=](const harness::Report& r) {
        for (const auto& f : Op(r, "split").files) EXPECT_EQ(f.size(), 44u + canonicalData / 2);
        EXPECT_EQ(OnlyFile(r, "surround").size(), 68u + 2 * canonicalData);
        EXPECT_EQ(OnlyFile(r, "normalize").size(), 44u + 108 + canonicalData);
    };
    // A LIST INFO after the samples that the file's end cuts short: a footer
    // the RIFF size and the removal both mend; the removal leaves the samples.
    m["infoPastEnd"] = {With(kInconsistent, {{"removeFooter", "wrote 1"}}),
                        [](const harness::Report& r) { EXPECT_EQ(OnlyFile(r, "removeFooter"), Canonical().Build()); }};
    return m;
}

}  // namespace

TEST(HostileFiles, EveryEnabledOperationEndsAsExpectedAndBreaksNoRule) {
    TempDir dir;
    const auto expected = ExpectedOutcomes();
    std::set<std::string> ran;
    for (const auto& c : Corpus()) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.file(c.name);
        std::filesystem::create_directories(folder + "/src");
        const std::string path = folder + "/src/" + c.name + ".wav";
        WriteFile(path, c.bytes);
        harness::Report r = harness::RunEveryOperation(path, folder + "/out", harness::Choices{});
        EXPECT_EQ(r.violations, std::vector<std::string>{});
        EXPECT_FALSE(r.skippedAsHuge);
        auto want = expected.find(c.name);
        ASSERT_NE(want, expected.end()) << "no expected outcome for " << c.name;
        if (want->second.check) want->second.check(r);
        for (const auto& o : r.ops) ran.insert(o.op);
        std::map<std::string, std::string> got = Summaries(r);
        // The rescues read any bytes as samples: whether they write depends on
        // how the bytes sound, so only their rules are held to here.
        EXPECT_TRUE(got.erase("rescue") && got.erase("raw2wav --detect"));
        for (auto& [op, text] : got) {
            const std::string p = "ファイル " + path + " ";
            if (auto at = text.find(p); at != std::string::npos) text.replace(at, p.size(), "ファイル %s ");
        }
        EXPECT_EQ(got, want->second.ops);
        if (std::getenv("VELMORA_DUMP_OUTCOMES"))
            for (const auto& [op, text] : got) std::printf("%s\t%s\t%s\n", c.name.c_str(), op.c_str(), text.c_str());
        EXPECT_EQ(Checksum(ReadFile(path)), Checksum(c.bytes));
        std::filesystem::remove_all(folder);
    }
    // The corpus reaches every operation, so the fuzz targets built on the
    // same runs do too.
    for (Operation op : kAllOperations)
        EXPECT_TRUE(ran.count(harness::kRunNames[static_cast<std::size_t>(op)])) << OperationName(op);
}

namespace {

// Every operation on the file analysed at `path`, each ending with the code
// of its failure as CodeOf gives it ("" for none).
std::map<std::string, std::string> FailuresOf(const std::string& path, WaveInfo& info, const std::string& out) {
    std::map<std::string, std::string> m;
    const auto run = [&](const std::string& op, const std::function<void()>& f) {
        try {
            f();
            m[op] = "";
        } catch (const VelmoraError& e) {
            m[op] = CodeOf(e.what());
        }
    };
    RecordingHost host;
    harness::StubPeakView view;
    run("split", [&] { ChannelSplit(info, {path, out}, host); });
    run("surround", [&] { PseudoSurround(info, {path, out}, host); });
    run("normalize", [&] { Normalize(info, {path, out}, view, host); });
    run("rebuild", [&] { RebuildHeader(info, {path, out}, host); });
    run("removeFooter", [&] { RemoveFooter(info, {path, out}, host); });
    run("riffSize", [&] { RewriteRiffSize(info, {path}, host); });
    run("sampleRate", [&] { RewriteSampleRate(info, {path, 44100}, host); });
    run("raw2wav", [&] {
        RawToWaveOptions o;
        o.rawPath = path;
        o.outputFolder = out;
        RawToWave(o, host);
    });
    return m;
}

}  // namespace

TEST(HostileFiles, OperationsOnAFileReplacedByAFolder) {
    TempDir dir;
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);
    const std::string path = dir.write("take.wav", Canonical().Build());
    WaveInfo info;
    ASSERT_TRUE(AnalyzeWave(path, info).complete());

    // A folder where the analysed file was: every operation says it cannot
    // open it, and writes nothing.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    const std::string cannotOpen = "cannot-open " + path;
    for (const auto& [op, code] : FailuresOf(path, info, out)) EXPECT_EQ(code, cannotOpen) << op;
    EXPECT_TRUE(FilesIn(out).empty());
    ChannelList list;
    EXPECT_THROW(RegisterChannelFile(0, path, info, list), VelmoraError);
    EXPECT_FALSE(list.at(0).registered());
}

TEST(HostileFiles, OperationsOnAFileWithoutReadPermission) {
    TempDir dir;
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);
    const std::string path = dir.write("take.wav", Canonical().Build());
    WaveInfo info;
    ASSERT_TRUE(AnalyzeWave(path, info).complete());
    const std::string cannotOpen = "cannot-open " + path;
    ::chmod(path.c_str(), 0);
    if (::access(path.c_str(), R_OK) == 0) GTEST_SKIP() << "running with rights that read any file";
    for (const auto& [op, code] : FailuresOf(path, info, out)) EXPECT_EQ(code, cannotOpen) << op;
    EXPECT_TRUE(FilesIn(out).empty());
}

TEST(HostileFiles, OutputFolderThatCannotTakeFiles) {
    TempDir dir;
    WavBuilder b = Canonical();
    b.trailer = ListChunk(26);
    const Bytes bytes = b.Build();
    const std::string path = dir.write("take.wav", bytes);
    WaveInfo info;
    ASSERT_TRUE(AnalyzeWave(path, info).complete());
    // A folder that does not exist, and a plain file named as the folder.
    for (const std::string& out : {dir.file("missing"), dir.write("plain", Bytes{1})}) {
        RecordingHost host;
        try {
            RemoveFooter(info, {path, out}, host);
            ADD_FAILURE() << "wrote into " << out;
        } catch (const VelmoraError& e) {
            EXPECT_EQ(CodeOf(e.what()), "cannot-create " + PathInFolder(out, "take(futta del).wav"));
        }
        EXPECT_EQ(ReadFile(path), bytes);
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"plain", "take.wav"}));
}

TEST(HostileFiles, JapaneseNamesWithBlanksThroughEveryOperation) {
    TempDir dir;
    const std::string folder = dir.file("入力 フォルダ");
    std::filesystem::create_directories(FsPath(folder));
    WavBuilder b = Canonical();
    b.fmtSize = 18;
    const std::string path = folder + "/録音 テイク 1.wav";
    WriteFile(path, b.Build());
    harness::Choices choices;
    choices.rateText = "48000";
    const std::string out = dir.file("出力 先");
    harness::Report r = harness::RunEveryOperation(path, out, choices);
    EXPECT_EQ(r.violations, std::vector<std::string>{});
    const auto name = [&](const std::string& op, std::size_t i = 0) {
        const harness::Outcome* o = r.find(op);
        return o && o->written.size() > i ? o->written[i] : std::string("(none)");
    };
    EXPECT_EQ(name("split", 0), PathInFolder(out, "録音 テイク 1(Left)(0).wav"));
    EXPECT_EQ(name("split", 1), PathInFolder(out, "録音 テイク 1(Right)(1).wav"));
    EXPECT_EQ(name("surround"), PathInFolder(out, "録音 テイク 1(EX) delay(200ms) 4ch.wav"));
    EXPECT_EQ(name("normalize"), PathInFolder(out, "録音 テイク 1(normalize).wav"));
    EXPECT_EQ(name("rebuild"), PathInFolder(out, "録音 テイク 1(reheader).wav"));
    EXPECT_EQ(name("raw2wav"), PathInFolder(out, "録音 テイク 1.wav(wavemaker).wav"));
    EXPECT_EQ(name("sampleRate"), path);
    EXPECT_EQ(ReadFile(path), b.Build());
}
