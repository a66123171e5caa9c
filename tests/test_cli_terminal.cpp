// velmora-cli on a terminal: the progress line, drawn only when stderr is a
// pseudo-terminal, and the help wrapped to its width.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "cli_runner.h"
#include "common.h"
#include "help_format.h"

using namespace velmora::test;

namespace {

struct PtyRun {
    int status;
    std::string tty;  // what reached the terminal: stderr
    std::string out;  // stdout, redirected to a file
};

// Runs the CLI with stderr on a pseudo-terminal of `columns` columns, stdout
// into a file and stdin from /dev/null.
PtyRun RunOnPty(const std::string& args, const TempDir& dir, unsigned short columns = 200) {
    const std::string outFile = dir.file("pty-stdout.txt");
    const std::string command = std::string(VELMORA_CLI) + " " + args + " >" + Quote(outFile) + " </dev/null";
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = columns;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &ws);
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string tty;
    char buf[4096];
    ssize_t n;
    // Read until the child's side closes (EIO on Linux).
    while ((n = ::read(master, buf, sizeof buf)) > 0) tty.append(buf, static_cast<std::size_t>(n));
    ::close(master);
    int st = 0;
    ::waitpid(pid, &st, 0);
    Bytes out = ReadFile(outFile);
    return {WEXITSTATUS(st), tty, std::string(out.begin(), out.end())};
}

// The frames of the progress line: the text between "\r" and the erase to
// the end of the line.
std::vector<std::string> Frames(const std::string& tty) {
    std::vector<std::string> frames;
    static const std::regex frame("\r([^\r\n]+)\x1b\\[K");
    for (auto it = std::sregex_iterator(tty.begin(), tty.end(), frame); it != std::sregex_iterator(); ++it)
        frames.push_back((*it)[1]);
    return frames;
}

Bytes Stereo16(std::size_t frames, std::uint32_t rate) {
    WavBuilder b;
    b.samplesPerSec = rate;
    b.samples = PatternSamples(frames, 2, 2);
    return b.Build();
}

}  // namespace

TEST(CliProgress, LineText) {
    struct Row {
        double duration, fraction, elapsed;
        const char* text;
    };
    const Row rows[] = {
        {3600, 0.25, 10, "a.wav   25%  00:15:00.0 / 01:00:00.0  elapsed 0:00:10  left 0:00:30  90.0x"},
        {4, 0.5, 1, "a.wav   50%  00:00:02.0 / 00:00:04.0  elapsed 0:00:01  left 0:00:01  2.00x"},
        {10800, 1.0, 4000, "a.wav  100%  03:00:00.0 / 03:00:00.0  elapsed 1:06:40  left 0:00:00  2.70x"},
        // Nothing done yet: no remaining time, no speed.
        {60, 0, 0, "a.wav    0%  00:00:00.0 / 00:01:00.0  elapsed 0:00:00  left -:--:--"},
        // No play time known (a raw file of rate 0): percent and times only.
        {0, 0.29, 3, "a.wav   29%  elapsed 0:00:03  left 0:00:07"},
    };
    for (const Row& r : rows) {
        velmora::cli::ProgressLine line("dir/a.wav");
        line.setDuration(r.duration);
        EXPECT_EQ(line.text(r.fraction, r.elapsed), r.text) << r.duration << " " << r.fraction;
    }
}

TEST(CliProgress, DrawnOnATerminalOnly) {
    TempDir dir;
    // 200 seconds at 8 kHz: enough blocks for every percent step.
    const std::string song = dir.write("song.wav", Stereo16(200 * 8000, 8000));
    PtyRun r = RunOnPty("split " + Quote(song), dir);
    ASSERT_EQ(r.status, 0) << r.tty;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{dir.file("song(Left)(0).wav"), dir.file("song(Right)(1).wav")}));
    const std::vector<std::string> frames = Frames(r.tty);
    ASSERT_GE(frames.size(), 50u) << r.tty;
    static const std::regex shape(
        R"(song\.wav +(\d+)%  (\d\d:\d\d:\d\d\.\d) / 00:03:20\.0  elapsed \d+:\d\d:\d\d  left (\d+:\d\d:\d\d|-:--:--)(  [0-9.]+x)?)");
    int last = -1;
    for (const auto& f : frames) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(f, m, shape)) << f;
        const int percent = std::stoi(m[1]);
        EXPECT_GE(percent, last) << f;  // one pass, never backwards
        last = percent;
        // The position is that share of the play time.
        EXPECT_EQ(m[2].str(), [&] {
            char buf[64];
            std::snprintf(buf, sizeof buf, "00:%02d:%04.1f", percent * 2 / 60, percent * 2 % 60 + 0.0);
            return std::string(buf);
        }()) << f;
    }
    EXPECT_GE(last, 99);
    // The line is erased before the program ends, one line, never a new one.
    EXPECT_EQ(r.tty.substr(r.tty.size() - 4), "\r\x1b[K");
    EXPECT_EQ(r.tty.find('\n'), std::string::npos);

    // -q: not a byte on the terminal. Through a pipe: nothing either.
    r = RunOnPty("-q split " + Quote(song), dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.tty, "");
    CliRun piped = RunCli("split " + Quote(song), dir);
    EXPECT_EQ(piped.err, "");

    // -v: the log lines as the window shows them, each naming the file.
    r = RunOnPty("-v split " + Quote(song), dir);
    EXPECT_NE(r.tty.find(song + ": 書込中: " + dir.file("song(Left)(0).wav") + "\r\n"), std::string::npos) << r.tty;
    EXPECT_NE(r.tty.find(song + ": 終わり\r\n"), std::string::npos) << r.tty;
    piped = RunCli("split -v " + Quote(song), dir);
    EXPECT_EQ(Lines(piped.err).size(), 3u) << piped.err;
}

TEST(CliProgress, NormalizeShowsItsScanAndFitsNarrowTerminals) {
    TempDir dir;
    const std::string song = dir.write("song.wav", Stereo16(150 * 1000, 1000));
    PtyRun r = RunOnPty("normalize --no " + Quote(song), dir, 40);
    ASSERT_EQ(r.status, 0) << r.tty;
    EXPECT_EQ(Lines(r.out).size(), 3u + 1u) << r.out;  // three minutes and the label
    const std::vector<std::string> frames = Frames(r.tty);
    ASSERT_GE(frames.size(), 20u) << r.tty;
    bool midway = false;
    for (const auto& f : frames) {
        EXPECT_LE(f.size(), 39u) << f;  // a column short of the width
        midway = midway || f.find(" 50%  00:01:15.0 / 00:02:30.0") != std::string::npos;
    }
    EXPECT_TRUE(midway) << r.tty;
}

TEST(CliHelp, WrapsToTheWidth) {
    using velmora::cli::Wrap;
    EXPECT_EQ(Wrap("one two three four", 9, 2), "one two\n  three\n  four");
    EXPECT_EQ(Wrap("a\nb c", 3, 1), "a\n b c");
    // A table row hangs under its text; a word longer than the width stays whole.
    EXPECT_EQ(Wrap("  2  usage error here", 12, 0), "  2  usage\n     error\n     here");
    EXPECT_EQ(Wrap("abcdefghij xy", 5, 0), "abcdefghij\nxy");

    TempDir dir;
    for (const std::string verb : {"", "normalize ", "surround ", "mux "}) {
        CliRun r = RunShell("COLUMNS=50 " + std::string(VELMORA_CLI) + " " + verb + "--help", dir);
        EXPECT_EQ(r.status, 0) << verb;
        for (const auto& line : Lines(r.out)) EXPECT_LE(line.size(), 50u) << verb << line;
        EXPECT_NE(r.out.find("Exit status"), std::string::npos) << verb;
    }
}
