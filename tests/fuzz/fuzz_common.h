// Shared pieces of the fuzz targets: a private scratch folder in memory and
// an abort that libFuzzer reports as a finding.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::fuzz {

inline const std::string& ScratchDir() {
    // Never destroyed, so the exit handler below can still read it.
    static const std::string& dir = *new std::string([] {
        std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string d = base + "/velmora-fuzz-" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        // Gone when the run ends normally; a finding leaves it for a look.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return d;
    }());
    return dir;
}

[[noreturn]] inline void Finding(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

#define VELMORA_CHECK(cond) \
    do { \
        if (!(cond)) ::velmora::fuzz::Finding(#cond); \
    } while (0)

}  // namespace velmora::fuzz
