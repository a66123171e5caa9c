// When the world changes under an operation: links and inputs at output
// names, inputs that are not files, a source changed or shrinking after its
// analysis, a file another process is writing or locking, two runs writing
// the same names, a folder someone else keeps locked, and headers whose
// "second" is huge or tiny.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "error_of.h"
#include "io/file.h"
#include "op_harness.h"
#include "ops_fixture.h"
#include "special_files.h"
#include "wav/error.h"
#include "wav/text.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

// 16-bit PCM with an 18-byte format chunk and a LIST footer, so that every
// operation can be called on it (the CLI, which asks the analysis, offers
// the copies only without the footer).
Bytes Source(int channels, std::uint32_t rate = 1000, std::size_t frames = 3000, bool footer = true) {
    WavBuilder b;
    b.channels = static_cast<std::uint16_t>(channels);
    b.samplesPerSec = rate;
    b.fmtSize = 18;
    b.samples = PatternSamples(frames, channels, 2);
    if (footer) b.trailer = ListChunk(20);
    return b.Build();
}

// A file both in-place repairs take: its RIFF size is wrong.
Bytes WrongRiffSize() {
    WavBuilder b;
    b.samples = PatternSamples(100, 2, 2);
    b.riffSize = 5;
    return b.Build();
}

// One operation: `prepare` analyses (or registers) the source and returns
// the run; `outputs` are the file names it writes beside the source.
struct Op {
    const char* name;
    int channels;
    bool analysed;  // raw2wav reads its file without an analysis
    std::vector<std::string> outputs;
    std::function<std::function<std::vector<std::string>(Host&)>(const std::string& src)> prepare;
};

harness::StubPeakView peakView;

template <typename F>
std::function<std::function<std::vector<std::string>(Host&)>(const std::string&)> Analysing(F run) {
    return [run](const std::string& src) {
        auto info = std::make_shared<WaveInfo>();
        AnalyzeWave(src, *info);
        return std::function<std::vector<std::string>(Host&)>([run, info, src](Host& h) { return run(*info, src, h); });
    };
}

std::vector<Op> NewFileOps() {
    return {
        {"split",
         2,
         true,
         {"take(Left)(0).wav", "take(Right)(1).wav"},
         Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return ChannelSplit(i, {s, ""}, h);
         })},
        {"surround", 2, true, {"take delay(200ms) 4ch.wav"}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return PseudoSurround(i, {s, "", 200, false, SurroundHeader::Plain, false}, h);
         })},
        {"normalize", 2, true, {"take(normalize).wav"}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return Normalize(i, {s, ""}, peakView, h);
         })},
        {"rebuild-header", 2, true, {"take(reheader).wav"}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return RebuildHeader(i, {s, ""}, h);
         })},
        {"remove-footer", 2, true, {"take(futta del).wav"}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return RemoveFooter(i, {s, ""}, h);
         })},
        {"mux",
         1,
         true,
         {"take(mux).wav"},
         [](const std::string& src) {
             auto list = std::make_shared<ChannelList>();
             WaveInfo info;
             RegisterChannelFile(0, src, info, *list);
             return std::function<std::vector<std::string>(Host&)>([list](Host& h) {
                 return WriteMultiplex(*list, {false, false, ""}, h);
             });
         }},
        {"raw2wav",
         2,
         false,
         {"take.wav(wavemaker).wav"},
         [](const std::string& src) {
             return std::function<std::vector<std::string>(Host&)>([src](Host& h) {
                 RawToWaveOptions o;
                 o.rawPath = src;
                 return RawToWave(o, h);
             });
         }},
    };
}

std::vector<Op> InPlaceOps() {
    return {
        {"fix-riff-size", 2, true, {}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return RewriteRiffSize(i, {s}, h);
         })},
        {"set-rate", 2, true, {}, Analysing([](WaveInfo& i, const std::string& s, Host& h) {
             return RewriteSampleRate(i, {s, 8000}, h);
         })},
    };
}

// "ok", or the code of the failure and the file it names.
std::string RunFor(const std::function<std::vector<std::string>(Host&)>& run, Host& host) {
    try {
        run(host);
        return "ok";
    } catch (const VelmoraError& e) {
        return CodeOf(e.what());
    }
}

std::string RunFor(const std::function<std::vector<std::string>(Host&)>& run) {
    RecordingHost host;
    return RunFor(run, host);
}

void MoveModifiedTime(const std::string& path, int seconds) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void SetModifiedTime(const std::string& path, const timespec& when) {
    timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Runs fn in a forked child and returns what it wrote to the pipe it gets.
std::string InChild(const std::function<std::string()>& fn) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        try {
            out = fn();
        } catch (const VelmoraError& e) {
            out = e.what();
        }
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t r; (r = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(r));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return text;
}

}  // namespace

// ---- Links and inputs at output names -------------------------------------

TEST(OutputNames, ALinkIsReplacedAsANameAndAnInputByAnyNameIsRefused) {
    // Both ways of naming an output: a link to the unnamed file, a rename.
    for (const bool unnamed : {true, false}) {
        for (const Op& op : NewFileOps()) {
            SCOPED_TRACE(std::string(op.name) + (unnamed ? " unnamed" : " temporary name"));
            AllowUnnamedOutputs(unnamed);
            TempDir dir, elsewhere;
            const Bytes original = Source(op.channels);
            const std::string src = dir.file("take.wav");
            WriteFile(src, original);
            // The last name, so that a refusal has to come before any output is named.
            const std::string last = dir.file(op.outputs.back());

            // The multiplex writer's own rule refuses it first, in its own words.
            const std::string refusal = std::string(op.name) == "mux" ? "output-is-input" : "output-is-input " + last;
            for (const bool hard : {false, true}) {
                hard ? fs::create_hard_link(src, last) : fs::create_symlink("take.wav", last);
                EXPECT_EQ(RunFor(op.prepare(src)), refusal);
                EXPECT_EQ(ReadFile(src), original);
                EXPECT_EQ(FilesIn(dir.path()).size(), 2u);  // the source and the link
                fs::remove(last);
            }

            const std::string victim = elsewhere.file("victim.wav");
            WriteFile(victim, Bytes{'k', 'e', 'e', 'p'});
            fs::create_symlink(victim, last);
            EXPECT_EQ(RunFor(op.prepare(src)), "ok");
            EXPECT_EQ(ReadFile(victim), (Bytes{'k', 'e', 'e', 'p'}));
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(last)));
            EXPECT_EQ(ReadFile(src), original);
        }
    }
    AllowUnnamedOutputs(true);
}

TEST(OutputNames, TheCliNeverReplacesAFileNamedOnItsCommandLine) {
    TempDir dir;
    const Bytes a = Source(2, 1000, 3000, false);
    WriteFile(dir.file("a.wav"), a);
    WriteFile(dir.file("a(reheader).wav"), a);
    CliRun run =
        RunShell("cd " + Quote(dir.path()) + " && " + VELMORA_CLI + " rebuild-header a.wav 'a(reheader).wav'", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(TextOutputIsInput("./a(reheader).wav")), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir.file("a(reheader).wav")), a);
    EXPECT_EQ(run.out, "./a(reheader)(reheader).wav\n");

    // The split of the issue: a link from an output name to the source.
    WriteFile(dir.file("take.wav"), a);
    fs::create_symlink("take.wav", dir.file("take(Left)(0).wav"));
    run = RunShell("cd " + Quote(dir.path()) + " && " + VELMORA_CLI + " split take.wav", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(dir.file("take.wav")), a);
    EXPECT_FALSE(fs::exists(dir.file("take(Right)(1).wav")));
}

// ---- Inputs that are not files -----------------------------------------------

TEST(Inputs, AFifoASocketOrADeviceIsRefusedWithoutBeingOpened) {
    TempDir dir;
    SpecialFiles special(dir);
    ASSERT_EQ(special.all().size(), 3u);
    // A FIFO with no writer keeps an open for reading waiting: the alarm ends
    // the test instead of letting it hang.
    ::alarm(30);
    for (const auto& [kind, path] : special.all()) {
        EXPECT_EQ(CodeOfFailure([&] { File::OpenRead(path); }), "not-regular-file " + path) << kind;
        EXPECT_EQ(CodeOfFailure([&] { File::OpenReadWrite(path); }), "not-regular-file " + path) << kind;
        WaveInfo info;
        EXPECT_EQ(CodeOfFailure([&] { AnalyzeWave(path, info); }), "not-regular-file " + path) << kind;
    }
    ::alarm(0);
    // A folder stays a file that cannot be opened, with the system's reason.
    const std::string folder = dir.file("folder.wav");
    fs::create_directory(folder);
    EXPECT_EQ(CodeOfFailure([&] { File::OpenRead(folder); }), "cannot-open " + folder);
}

// ---- The source against its analysis ---------------------------------------

TEST(StaleAnalysis, AFileChangedAfterItsAnalysisIsRefusedAndNothingIsWritten) {
    struct Change {
        const char* name;
        std::function<void(const std::string&, const Bytes&)> apply;
    };
    const std::vector<Change> changes = {
        {"replaced",
         [](const std::string& p, const Bytes& b) {
             WriteFile(p + ".new", b);
             fs::rename(p + ".new", p);
         }},
        {"shortened", [](const std::string& p, const Bytes& b) { fs::resize_file(p, b.size() - 100); }},
        {"grown", [](const std::string& p, const Bytes& b) { fs::resize_file(p, b.size() + 1); }},
        // Rewritten at its length; the clock may not have moved within the
        // test, so the time is moved as a later write would.
        {"rewritten",
         [](const std::string& p, const Bytes& b) {
             Bytes louder = b;
             louder[100] ^= 0x40;
             WriteFile(p, louder);
             MoveModifiedTime(p, 2);
         }},
    };
    std::vector<Op> ops = NewFileOps();
    for (Op& op : InPlaceOps()) ops.push_back(std::move(op));
    SetWriterCheckPause(0);
    for (const Op& op : ops) {
        if (!op.analysed) continue;
        for (const Change& change : changes) {
            SCOPED_TRACE(std::string(op.name) + " / " + change.name);
            TempDir dir;
            const std::string src = dir.file("take.wav");
            const Bytes original = Source(op.channels);
            WriteFile(src, original);
            const auto run = op.prepare(src);
            change.apply(src, original);
            const Bytes changed = ReadFile(src);
            EXPECT_EQ(RunFor(run), "source-changed " + src);
            EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"take.wav"});
            EXPECT_EQ(ReadFile(src), changed);
        }
    }
    SetWriterCheckPause(150);
}

// A host that cuts the source short once the operation is under way.
class ShrinkingHost : public RecordingHost {
public:
    ShrinkingHost(std::string path, std::uint64_t to) : path_(std::move(path)), to_(to) {}
    void progress(int p) override {
        RecordingHost::progress(p);
        cut();
    }
    void pumpMessages() override {
        RecordingHost::pumpMessages();
        cut();
    }

private:
    void cut() {
        if (++calls_ == 1) fs::resize_file(path_, to_);
    }
    std::string path_;
    std::uint64_t to_;
    int calls_ = 0;
};

TEST(StaleAnalysis, ASourceShrinkingWhileReadStopsTheOperationWithNoOutput) {
    for (const Op& op : NewFileOps()) {
        if (!op.analysed) continue;
        SCOPED_TRACE(op.name);
        TempDir dir;
        const std::string src = dir.file("take.wav");
        // Seconds of 80,000 bytes: each is read on its own, not ahead.
        WriteFile(src, Source(op.channels, 20000, 60000));
        const auto run = op.prepare(src);
        ShrinkingHost host(src, 30000);
        EXPECT_EQ(RunFor(run, host), "source-changed " + src);
        EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"take.wav"});
    }
}

TEST(StaleAnalysis, NormalizeAppliesNoGainToAFileChangedWhileItsQuestionWaits) {
    TempDir dir;
    const std::string src = dir.file("take.wav");
    WriteFile(src, Source(2));
    WaveInfo info = Analysed(src);
    struct QuestionHost : RecordingHost {
        std::string path;
        bool ask(const std::string& q) override {
            Bytes b = ReadFile(path);
            b[60] ^= 0x7F;
            WriteFile(path, b);
            MoveModifiedTime(path, 2);
            return RecordingHost::ask(q);
        }
    } host;
    host.path = src;
    EXPECT_EQ(CodeOfFailure([&] { Normalize(info, {src, ""}, peakView, host); }), "source-changed " + src);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"take.wav"});
}

TEST(InPlacePatch, BytesThatDifferFromTheAnalysisAreNotReplaced) {
    // Same length, same time: only the bytes themselves tell.
    SetWriterCheckPause(0);
    for (const auto& [op, at] : {std::pair<Op, std::size_t>{InPlaceOps()[0], 8}, {InPlaceOps()[1], 24}}) {
        SCOPED_TRACE(op.name);
        TempDir dir;
        const std::string src = dir.file("take.wav");
        WriteFile(src, WrongRiffSize());
        struct stat st {};
        ::stat(src.c_str(), &st);
        const auto run = op.prepare(src);
        Bytes changed = ReadFile(src);
        changed[at] ^= 1;  // "WAVE" / the stored rate
        WriteFile(src, changed);
        SetModifiedTime(src, st.st_mtim);
        EXPECT_EQ(RunFor(run), "source-changed " + src);
        EXPECT_EQ(ReadFile(src), changed);
    }
    SetWriterCheckPause(150);
}

// ---- Another writer ---------------------------------------------------------

namespace {

// Another process that opens `path` with `flags` and holds the lock `take`
// gives it until release() (or until this process goes: it sees the pipe
// close and goes too).
class LockHolder {
public:
    LockHolder(const std::string& path, int flags, const std::function<bool(int fd)>& take) {
        if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready_[0]);
            ::close(release_[1]);
            const int fd = ::open(path.c_str(), flags);
            (void)!::write(ready_[1], take(fd) ? "y" : "n", 1);
            char c;
            (void)!::read(release_[0], &c, 1);
            ::_exit(0);
        }
        char c = 0;
        held_ = pid_ > 0 && ::read(ready_[0], &c, 1) == 1 && c == 'y';
    }
    ~LockHolder() {
        release();
        for (int fd : {ready_[0], ready_[1], release_[0], release_[1]})
            if (fd >= 0) ::close(fd);
    }
    bool held() const { return held_; }
    void release() {
        if (pid_ <= 0) return;
        (void)!::write(release_[1], "x", 1);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    int ready_[2] = {-1, -1}, release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool held_ = false;
};

}  // namespace

TEST(InPlacePatch, AFileLockedByAnotherProcessIsRefusedUntilItIsReleased) {
    // A flock, and the locks of programs that lock with fcntl or lockf, which
    // flock alone does not see.
    struct Lock {
        const char* name;
        std::function<bool(int fd)> take;
    };
    const auto fcntlLock = [](off_t start, off_t length) {
        return [start, length](int fd) {
            struct flock l {};
            l.l_type = F_WRLCK;
            l.l_whence = SEEK_SET;
            l.l_start = start;
            l.l_len = length;
            return ::fcntl(fd, F_SETLK, &l) == 0;
        };
    };
    const std::vector<Lock> locks = {
        {"flock", [](int fd) { return ::flock(fd, LOCK_EX) == 0; }},
        {"fcntl, the whole file", fcntlLock(0, 0)},
        {"fcntl, the RIFF size only", fcntlLock(4, 4)},
        {"lockf", [](int fd) { return ::lockf(fd, F_TLOCK, 0) == 0; }},
    };
    for (const Lock& lock : locks) {
        SCOPED_TRACE(lock.name);
        TempDir dir;
        const std::string src = dir.file("take.wav");
        const Bytes original = WrongRiffSize();
        WriteFile(src, original);
        LockHolder holder(src, O_RDWR, lock.take);
        ASSERT_TRUE(holder.held());
        for (const Op& op : InPlaceOps()) {
            EXPECT_EQ(RunFor(op.prepare(src)), "file-busy " + src) << op.name;
            EXPECT_EQ(ReadFile(src), original) << op.name;
        }
        holder.release();
        EXPECT_EQ(RunFor(InPlaceOps()[0].prepare(src)), "ok");
    }
}

// A writer that keeps the file open, even one that writes nothing now and
// takes no lock, is seen at once where the system tells (a read lease),
// without the two looks.
TEST(InPlacePatch, AFileOpenForWritingElsewhereIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string src = dir.file("take.wav");
    const Bytes original = WrongRiffSize();
    WriteFile(src, original);
    ASSERT_EQ(OpenForWritingElsewhere(src), std::optional<bool>(false));
    SetWriterCheckPause(0);
    for (const int flags : {O_WRONLY | O_APPEND, O_RDWR}) {
        LockHolder writer(src, flags, [](int fd) { return fd >= 0; });
        ASSERT_TRUE(writer.held());
        for (const Op& op : InPlaceOps()) {
            EXPECT_EQ(RunFor(op.prepare(src)), "file-busy " + src) << op.name;
            EXPECT_EQ(ReadFile(src), original) << op.name;
        }
    }
    // Readers are no writers.
    LockHolder reader(src, O_RDONLY, [](int fd) { return fd >= 0; });
    ASSERT_TRUE(reader.held());
    EXPECT_EQ(RunFor(InPlaceOps()[0].prepare(src)), "ok");
    SetWriterCheckPause(150);
}

// Where the system cannot tell (no leases), the two looks a moment apart.
TEST(InPlacePatch, AFileThatGrowsBetweenTheTwoLooksIsRefused) {
    UseWriterLeases(false);
    TempDir dir;
    const std::string src = dir.file("take.wav");
    const Bytes original = WrongRiffSize();
    WriteFile(src, original);
    struct stat st {};
    ASSERT_EQ(::stat(src.c_str(), &st), 0);
    const auto run = InPlaceOps()[0].prepare(src);
    // A writer that takes no lock: it appends once it sees the patch's lock
    // in /proc/locks, that is, while the patch looks a second time.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string inode = ":" + std::to_string(st.st_ino) + " ";
        for (int i = 0; i < 20000; ++i) {
            std::ifstream locks("/proc/locks");
            std::stringstream all;
            all << locks.rdbuf();
            if (all.str().find(inode) != std::string::npos) {
                std::ofstream(src, std::ios::binary | std::ios::app) << "more";
                ::_exit(0);
            }
            ::usleep(500);
        }
        ::_exit(1);
    }
    EXPECT_EQ(RunFor(run), "file-busy " + src);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Bytes now = ReadFile(src);
    EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(original.size())), original);
    UseWriterLeases(true);
}

// ---- Two runs, one set of names ---------------------------------------------

TEST(ConcurrentRuns, AnotherRunNamingOneOfTheOutputsMeanwhileStopsTheWholeSet) {
    TempDir dir;
    OutputFile left = OutputFile::Create(dir.file("L.wav"));
    OutputFile right = OutputFile::Create(dir.file("R.wav"));
    left.write("ours", 4);
    right.write("ours", 4);
    WriteFile(dir.file("R.wav"), Bytes{'t', 'h', 'e', 'i', 'r', 's'});
    EXPECT_EQ(CodeOfFailure([&] { OutputFile::CommitAll({&left, &right}); }), "output-clash " + dir.file("R.wav"));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"R.wav"});
    EXPECT_EQ(ReadFile(dir.file("R.wav")), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
}

TEST(ConcurrentRuns, TwoSplitsIntoOneFolderLeaveOneRunsWholeSet) {
    TempDir a, b, out;
    WriteFile(a.file("take.wav"), Source(2, 20000, 40000));
    Bytes other = Source(2, 20000, 40000);
    for (std::size_t i = 60; i < other.size(); i += 7) other[i] ^= 0x55;
    WriteFile(b.file("take.wav"), other);
    // Each source's own outputs, split alone.
    std::vector<Bytes> expected[2];
    for (int k = 0; k < 2; ++k) {
        TempDir alone;
        const std::string src = (k == 0 ? a : b).file("take.wav");
        RecordingHost host;
        WaveInfo info = Analysed(src);
        for (const auto& p : ChannelSplit(info, {src, alone.path()}, host)) expected[k].push_back(ReadFile(p));
    }
    for (int round = 0; round < 8; ++round) {
        fs::remove_all(out.path());
        fs::create_directory(out.path());
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        pid_t pids[2];
        for (int k = 0; k < 2; ++k) {
            pids[k] = ::fork();
            if (pids[k] == 0) {
                ::close(go[1]);
                const std::string src = (k == 0 ? a : b).file("take.wav");
                WaveInfo info;
                AnalyzeWave(src, info);
                char c;
                (void)!::read(go[0], &c, 1);
                RecordingHost host;
                try {
                    ChannelSplit(info, {src, out.path()}, host);
                } catch (const VelmoraError&) {
                    ::_exit(1);
                }
                ::_exit(0);
            }
        }
        ::close(go[0]);
        ::close(go[1]);  // both start at once
        int succeeded = 0;
        for (pid_t pid : pids) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) ++succeeded;
        }
        EXPECT_GE(succeeded, 1);
        const std::vector<Bytes> got = {ReadFile(out.file("take(Left)(0).wav")),
                                        ReadFile(out.file("take(Right)(1).wav"))};
        EXPECT_TRUE(got == expected[0] || got == expected[1]) << "round " << round;
        EXPECT_EQ(FilesIn(out.path()).size(), 2u);
    }
}

TEST(ConcurrentRuns, AFolderLockedByAnotherProcessPastTheLimitNamesNothing) {
    TempDir dir;
    // Opened for reading only: all that anyone who can list the folder needs.
    LockHolder holder(dir.path(), O_RDONLY | O_DIRECTORY, [](int fd) { return ::flock(fd, LOCK_EX) == 0; });
    ASSERT_TRUE(holder.held());
    SetFolderLockWait(100);
    // A wait without a limit would never end: the alarm ends the test instead.
    ::alarm(60);
    for (const Op& op : NewFileOps()) {
        const std::string src = dir.file("take.wav");
        const Bytes original = Source(op.channels);
        WriteFile(src, original);
        EXPECT_EQ(RunFor(op.prepare(src)), "folder-locked " + FolderPart(src)) << op.name;
        EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"take.wav"}) << op.name;
        EXPECT_EQ(ReadFile(src), original) << op.name;
    }
    ::alarm(0);
    SetFolderLockWait(30000);
    holder.release();
    EXPECT_EQ(RunFor(NewFileOps()[0].prepare(dir.file("take.wav"))), "ok");
}

// ---- Bytes, not seconds -----------------------------------------------------

TEST(Bounded, EveryOperationStaysUnder64MBOnASparseFileAt200MHz) {
    // 48 MB of data at 200 MHz: a remainder of 12 million frames, once read
    // as one block of its own size.
    constexpr std::uint64_t kData = 48u << 20;
    std::vector<Op> ops = NewFileOps();
    for (Op& op : InPlaceOps()) ops.push_back(std::move(op));
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        TempDir dir;
        const std::string src = dir.file("take.wav");
        WavBuilder b;
        b.channels = static_cast<std::uint16_t>(op.channels);
        b.samplesPerSec = 200000000;
        b.fmtSize = 18;
        b.samples = PatternSamples(64, op.channels, 2);
        b.dataSize = static_cast<std::uint32_t>(kData);
        b.riffSize = static_cast<std::uint32_t>(kData + 38);
        WriteSparse(src, b.Build(), kData + 46);
        const std::string result = InChild([&] {
            SetWriterCheckPause(0);
            const std::string r = RunFor(op.prepare(src));
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            return r + " " + std::to_string(usage.ru_maxrss / 1024) + " MB";
        });
        std::istringstream words(result);
        std::string outcome;
        long mb = 0;
        words >> outcome >> mb;
        EXPECT_EQ(outcome, "ok") << result;
        EXPECT_GT(mb, 0) << result;
        EXPECT_LT(mb, 64) << result;
    }
}

TEST(Bounded, ATinyRateIsReadAndWrittenInLargeCalls) {
    // 1 Hz: 500,000 seconds of one frame each in 2 MB.
    TempDir dir;
    const std::string src = dir.file("take.wav");
    WriteFile(src, Source(2, 1, 500000));
    const auto calls = [] {
        std::ifstream io("/proc/self/io");
        std::string key;
        long value = 0, total = 0;
        while (io >> key >> value)
            if (key == "syscr:" || key == "syscw:") total += value;
        return total;
    };
    for (const Op& op : NewFileOps()) {
        if (op.channels != 2 || !op.analysed) continue;
        SCOPED_TRACE(op.name);
        const std::string result = InChild([&] {
            const auto run = op.prepare(src);
            const long before = calls();
            const std::string r = RunFor(run);
            return r + " " + std::to_string(calls() - before);
        });
        std::istringstream words(result);
        std::string outcome;
        long count = -1;
        words >> outcome >> count;
        EXPECT_EQ(outcome, "ok") << result;
        EXPECT_GE(count, 0) << result;
        EXPECT_LT(count, 500) << result;
        for (const auto& name : op.outputs) fs::remove(dir.file(name));
    }
}

TEST(Bounded, SecondsLargerThanABlockGiveTheBytesOfWholeSeconds) {
    // 1.2 MHz 16-bit stereo: a second is 4.8 MB, walked in two pieces.
    constexpr std::uint32_t kRate = 1200000;
    constexpr std::size_t kFrames = kRate * 2 + 12345;
    TempDir dir;
    WavBuilder b;
    b.samplesPerSec = kRate;
    b.samples = PatternSamples(kFrames, 2, 2);
    const std::string src = dir.file("take.wav");
    WriteFile(src, b.Build());
    WaveInfo info = Analysed(src);
    RecordingHost host;
    const auto frame = [&](std::size_t i) { return ReadU32(b.samples, 4 * i); };

    // Every frame: the first that differs, or kFrames.
    const auto firstWrong = [&](const std::function<bool(std::size_t)>& right) {
        std::size_t i = 0;
        while (i < kFrames && right(i)) ++i;
        return i;
    };
    const auto split = ChannelSplit(info, {src, dir.path()}, host);
    for (std::size_t c = 0; c < 2; ++c) {
        const Bytes out = ReadFile(split.at(c));
        ASSERT_EQ(out.size(), 44 + 2 * kFrames);
        EXPECT_EQ(
            firstWrong([&](std::size_t i) { return ReadU16(out, 44 + 2 * i) == ReadU16(b.samples, 4 * i + 2 * c); }),
            kFrames)
            << c;
    }
    // The rear pair from the frame a whole second (then 0.3 s) before, which
    // in pieces lies outside the block before.
    for (const int delayMs : {1000, 300}) {
        SCOPED_TRACE(delayMs);
        const auto paths = PseudoSurround(info, {src, dir.path(), delayMs, false, SurroundHeader::Plain, false}, host);
        const Bytes out = ReadFile(paths.at(0));
        ASSERT_EQ(out.size(), 44 + 12 * kFrames);
        const std::size_t delay = static_cast<std::size_t>(DelayFrames(kRate, delayMs));
        EXPECT_EQ(firstWrong([&](std::size_t i) {
                      const std::size_t at = 44 + 12 * i;
                      return ReadU32(out, at) == frame(i) && ReadU32(out, at + 4) == 0 &&
                             ReadU32(out, at + 8) == (i < delay ? 0u : frame(i - delay));
                  }),
                  kFrames);
        fs::remove(paths.at(0));
    }
}
