// The in-place repairs (RIFF size, rate, recovery) on arbitrary bytes, whether the analysis offers them
// or not, with the rules of tests/op_harness.h: only the named bytes change,
// only on success, and the file keeps its length. Much faster than the
// operations target, so the patches get many more inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "../op_harness.h"
#include "fuzz_common.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string root = fuzz::ScratchDir() + "/inplace";
    const std::string srcDir = root + "/src";
    const std::string outDir = root + "/out";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(srcDir);
    std::filesystem::create_directories(outDir);
    const std::string source = srcDir + "/take 1.wav";
    const harness::Bytes bytes(data, data + size);
    harness::Spill(source, bytes);

    WaveInfo info;
    const AnalysisResult analysis = AnalyzeWave(source, info);
    if (analysis.complete()) {
        std::uint64_t seed = 1469598103934665603ull;
        for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 1099511628211ull;
        const harness::Choices choices = harness::Choices::FromSeed(seed ^ (seed >> 29));
        const int fds = harness::OpenDescriptors();
        harness::Report report;
        harness::detail::Run run{source, outDir, report};
        harness::RunInPlaceRepairs(run, bytes, info, choices, true, true, true);
        for (const auto& v : report.violations) std::fprintf(stderr, "violation: %s\n", v.c_str());
        VELMORA_CHECK(report.violations.empty());
        VELMORA_CHECK(harness::OpenDescriptors() == fds);
        VELMORA_CHECK(harness::Slurp(source) == bytes);
    }
    std::filesystem::remove_all(root);
    return 0;
}
