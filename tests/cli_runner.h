// Runs velmora-cli (VELMORA_CLI, set by the build) as a process, with stdin
// from /dev/null so it never finds a terminal, and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "wav_builder.h"

namespace velmora::test {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

inline CliRun RunShell(const std::string& command, const TempDir& dir) {
    std::string errFile = dir.file("stderr.txt");
    std::string cmd = command + " </dev/null 2>" + Quote(errFile);
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = ::pclose(p);
    Bytes err = ReadFile(errFile);
    std::remove(errFile.c_str());
    return {WEXITSTATUS(st), out, std::string(err.begin(), err.end())};
}

inline CliRun RunCli(const std::string& args, const TempDir& dir) {
    return RunShell(std::string(VELMORA_CLI) + " " + args, dir);
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// A 16-bit stereo file at 1000 Hz: a second per thousand frames, small
// enough for any CLI test.
inline WavBuilder CliStereo16(std::size_t frames) {
    WavBuilder b;
    b.samplesPerSec = 1000;
    b.samples = PatternSamples(frames, 2, 2);
    return b;
}

}  // namespace velmora::test
