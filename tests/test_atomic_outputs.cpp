// Outputs appear whole or not at all, under a full disk and a kill; in-place
// patches that cannot be written leave the file as it was. A file-size limit
// (RLIMIT_FSIZE, SIGXFSZ ignored) stands in for a full disk, in a forked
// child so this process keeps its limits. Each case runs with outputs
// written unnamed and under temporary names.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "error_of.h"
#include "op_harness.h"
#include "io/file.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Runs fn in a child whose files may not grow past `limit` bytes (0: no
// limit) and returns its failure text, "ok", or "signal N" when it died.
std::string InChild(rlim_t limit, const std::function<void()>& fn) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (limit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &rl);
        }
        std::string result = "ok";
        try {
            fn();
        } catch (const VelmoraError& e) {
            result = e.what();
        }
        (void)!::write(pipeFds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buf[512];
    for (ssize_t r; (r = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(r));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : text;
}

WavBuilder Pcm(std::uint16_t channels, std::size_t frames) {
    WavBuilder b;
    b.channels = channels;
    b.samplesPerSec = 1000;
    b.samples = PatternSamples(frames, channels, 2);
    return b;
}

WaveInfo Analysed(const std::string& path) {
    WaveInfo info;
    AnalyzeWave(path, info);
    return info;
}

struct NewFileCase {
    const char* op;
    Bytes source;
    const char* output;  // its first output's name
    std::function<void(const std::string& src, const std::string& out, Host&)> run;
};

std::vector<NewFileCase> NewFileCases() {
    WavBuilder fmt18 = Pcm(2, 5000);
    fmt18.fmtSize = 18;
    WavBuilder footer = Pcm(2, 5000);
    footer.trailer = ListChunk(30);
    return {
        {"split", Pcm(2, 5000).Build(), "take(Left)(0).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             WaveInfo i = Analysed(s);
             ChannelSplit(i, {s, o}, h);
         }},
        {"surround", Pcm(2, 5000).Build(), "take delay(200ms) 4ch.wav",
         [](const std::string& s, const std::string& o, Host& h) {
             WaveInfo i = Analysed(s);
             PseudoSurround(i, {s, o, 200, false, SurroundHeader::Plain, false}, h);
         }},
        {"normalize", Pcm(2, 5000).Build(), "take(normalize).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             WaveInfo i = Analysed(s);
             harness::StubPeakView view;
             Normalize(i, {s, o}, view, h);
         }},
        {"rebuild", fmt18.Build(), "take(reheader).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             WaveInfo i = Analysed(s);
             RebuildHeader(i, {s, o}, h);
         }},
        {"removeFooter", footer.Build(), "take(futta del).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             WaveInfo i = Analysed(s);
             RemoveFooter(i, {s, o}, h);
         }},
        {"raw2wav", Pcm(2, 5000).Build(), "take.wav(wavemaker).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             RawToWave({s, 48000, RawBits::Sixteen, RawChannels::Stereo, o}, h);
         }},
        {"multiplex", Pcm(1, 5000).Build(), "take(mux).wav",
         [](const std::string& s, const std::string& o, Host& h) {
             ChannelList list;
             WaveInfo i;
             RegisterChannelFile(0, s, i, list);
             RegisterChannelFile(1, s, i, list);
             WriteMultiplex(list, {false, false, o}, h);
         }},
    };
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class AtomicOutputs : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        AllowUnnamedOutputs(GetParam());
        std::filesystem::create_directories(src);
        std::filesystem::create_directories(out);
    }
    void TearDown() override { AllowUnnamedOutputs(true); }
    TempDir dir;
    const std::string src = dir.file("src"), out = dir.file("out");
};

}  // namespace

TEST_P(AtomicOutputs, FullDiskLeavesTheOldFileOfThatNameAndNothingElse) {
    const Bytes old = {'o', 'l', 'd'};
    for (const NewFileCase& c : NewFileCases()) {
        SCOPED_TRACE(c.op);
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        const std::string source = dir.write("src/take.wav", c.source);
        const std::string output = out + "/" + c.output;
        WriteFile(output, old);
        RecordingHost host;
        // Every output here is at least 10 KB.
        EXPECT_EQ(CodeOf(InChild(4096, [&] { c.run(source, out, host); })), "cannot-write " + output);
        EXPECT_EQ(ReadFile(output), old);
        EXPECT_EQ(Names(out), std::vector<std::string>{c.output});
        // Without the limit it goes through and replaces the old file.
        EXPECT_EQ(InChild(0, [&] { c.run(source, out, host); }), "ok");
        EXPECT_GT(ReadFile(output).size(), 10000u);
        EXPECT_EQ(ReadFile(source), c.source);
    }
}

// Both in-place repairs against a limit inside the bytes they patch: the
// sampling rate's write stores the rate and then fails on the byte rate, so
// the patch is half written before the failure and must be undone.
TEST_P(AtomicOutputs, InPlacePatchThatCannotBeWrittenLeavesTheFileAsItWas) {
    WavBuilder longer = Pcm(2, 100);
    longer.riffSize = 36 + 400 + 10;
    struct Case {
        const char* op;
        Bytes bytes;
        rlim_t limit;
        std::function<void(const std::string&)> run;
    } cases[] = {
        {"riffSize", longer.Build(), 6,
         [](const std::string& p) {
             WaveInfo i = Analysed(p);
             RecordingHost h;
             RewriteRiffSize(i, {p}, h);
         }},
        {"sampleRate", Pcm(2, 100).Build(), 28,
         [](const std::string& p) {
             WaveInfo i = Analysed(p);
             RecordingHost h;
             RewriteSampleRate(i, {p, 48000}, h);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        const std::string path = dir.write("src/take.wav", c.bytes);
        EXPECT_EQ(CodeOf(InChild(c.limit, [&] { c.run(path); })), "cannot-write " + path);
        EXPECT_EQ(ReadFile(path), c.bytes);
        EXPECT_EQ(InChild(0, [&] { c.run(path); }), "ok");
        EXPECT_NE(ReadFile(path), c.bytes);
    }
}

// A split killed half-way through its third output: the first two are there
// and complete. An unnamed third output vanishes with the process; one under
// a temporary name stays behind as that hidden file, never under its name.
TEST_P(AtomicOutputs, SplitKilledMidwayLeavesOnlyCompleteOutputs) {
    const std::string source = dir.write("src/take.wav", Pcm(4, 200000).Build());
    WaveInfo info = Analysed(source);

    // The split writes its four outputs side by side in one pass: killed
    // half-way, none of them is complete, so none has a name.
    class KillingHost : public RecordingHost {
    public:
        void progress(int percent) override {
            if (percent >= 50) ::raise(SIGKILL);
        }
    } host;
    EXPECT_EQ(InChild(0, [&] { ChannelSplit(info, {source, out}, host); }), "signal 9");

    std::vector<std::string> names = Names(out);
    if (!GetParam()) {
        // Temporary names outlive a kill; they are hidden and never a final name.
        ASSERT_EQ(names.size(), 4u);
        for (const auto& n : names) EXPECT_EQ(n[0], '.') << n;
    } else {
        EXPECT_TRUE(names.empty());
    }
}

// Gathered, in-place, positioned and large writes all land where they belong.
TEST_P(AtomicOutputs, GatheredWritesLandInOrder) {
    const std::string path = out + "/gathered.bin";
    OutputFile f = OutputFile::Create(path);
    f.setGather(1024);
    const std::vector<std::uint8_t> head{1, 2, 3, 4};
    f.writeAt(0, head.data(), head.size());
    std::vector<std::uint8_t> want(head);
    std::vector<std::uint8_t> block(300);
    for (std::size_t k = 0; k < 10; ++k) {
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(k * 7 + i);
        f.writeAt(want.size(), block.data(), block.size());  // continues: gathered
        want.insert(want.end(), block.begin(), block.end());
    }
    f.seek(want.size());
    std::uint8_t* p = f.writeInPlace(500);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 500; ++i) p[i] = static_cast<std::uint8_t>(255 - i);
    for (int i = 0; i < 500; ++i) want.push_back(static_cast<std::uint8_t>(255 - i));
    EXPECT_EQ(f.writeInPlace(2000), nullptr);  // more than it gathers
    const std::vector<std::uint8_t> big(3000, 9);
    f.write(big.data(), big.size());  // straight through
    want.insert(want.end(), big.begin(), big.end());
    f.commit();
    std::vector<std::uint8_t> named(want.size() + 1);
    File g = File::OpenRead(path);
    EXPECT_EQ(g.readAt(0, named.data(), named.size()), want.size());
    named.resize(want.size());
    EXPECT_EQ(named, want);
}

// An output that has ended has nothing left to name: committing it again is
// refused, never passed over as if it had been named, and the file under the
// name stays as the first commit left it.
TEST_P(AtomicOutputs, CommitOfAnEndedOutputIsAnError) {
    const std::string path = out + "/ended.bin";
    struct Ending {
        const char* how;
        std::function<void(OutputFile&)> end;
        std::int64_t named;  // the length under the name afterwards; -1: none
    };
    const std::vector<Ending> endings = {
        {"committed", [](OutputFile& o) { o.commit(); }, 4},
        {"moved from", [](OutputFile& o) { OutputFile(std::move(o)).commit(); }, 4},
        {"discarded", [](OutputFile& o) { o = OutputFile(); }, -1},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.how);
        std::filesystem::remove(path);
        OutputFile f = OutputFile::Create(path);
        f.write("ours", 4);
        e.end(f);
        EXPECT_THROW(f.commit(), std::logic_error);
        EXPECT_THROW(OutputFile::CommitAll({&f}), std::logic_error);
        EXPECT_EQ(FileSizeOf(path), e.named);
    }
}

INSTANTIATE_TEST_SUITE_P(Unnamed, AtomicOutputs, ::testing::Values(true));
INSTANTIATE_TEST_SUITE_P(TemporaryNames, AtomicOutputs, ::testing::Values(false));
