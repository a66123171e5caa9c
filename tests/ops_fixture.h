// Shared by the operation tests: a host that keeps every gauge value, the
// analysis of a fixture, and the files a folder holds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/analysis.h"
#include "wav_builder.h"
#include "recording_host.h"

namespace velmora::test {

class TraceHost : public RecordingHost {
public:
    void progress(int percent) override {
        RecordingHost::progress(percent);
        gauge.push_back(percent);
    }
    std::vector<int> gauge;
};

// Analyses the file as the window does after a drop; the operations then act on it.
inline WaveInfo Analysed(const std::string& path) {
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(path, info);
    EXPECT_TRUE(r.complete()) << path;
    return info;
}

// Names of the files in a folder, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline Bytes Slice(const Bytes& b, std::size_t from, std::size_t count) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

inline bool HasTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace velmora::test
