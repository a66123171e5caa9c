// Arbitrary bytes analysed, then every operation the analysis enables run on
// them (and, for headers that promise little output, the disabled ones too),
// with the rules of tests/op_harness.h checked after each: a broken rule is
// a finding.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "../op_harness.h"
#include "fuzz_common.h"

using namespace velmora;

namespace {

// With VELMORA_FUZZ_STATS set, how often each operation ran and how it ended
// is printed at exit (to see what a corpus reaches).
struct Tally {
    // Enabled and succeeded, enabled and failed, the same for disabled runs.
    std::map<std::string, std::array<long, 4>> counts;
    long skipped = 0;
    ~Tally() {
        if (!std::getenv("VELMORA_FUZZ_STATS")) return;
        for (const auto& [op, n] : counts)
            std::fprintf(stderr, "ops: %-12s enabled: ok %ld failed %ld   disabled: ok %ld failed %ld\n", op.c_str(),
                         n[0], n[1], n[2], n[3]);
        std::fprintf(stderr, "ops: skipped as huge %ld\n", skipped);
    }
} tally;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string root = fuzz::ScratchDir() + "/ops";
    const std::string srcDir = root + "/src";
    const std::string outDir = root + "/out";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(srcDir);
    const std::string source = srcDir + "/take 1.wav";

    // The choices follow the bytes, so every input picks its options again.
    std::uint64_t seed = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 1099511628211ull;
    seed ^= seed >> 29;
    const harness::Choices choices = harness::Choices::FromSeed(seed);

    // Most mutations break the agreement of the sizes with the length, and
    // only the header repairs are offered for such files. For two inputs in
    // three the sizes are made to agree first, so the transforms run as often.
    harness::Bytes bytes(data, data + size);
    const int agree = static_cast<int>((seed >> 40) % 3);
    if (agree > 0 && size >= 12) {
        const auto put = [&](std::size_t at, std::uint32_t v) {
            for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        put(4, static_cast<std::uint32_t>(size - 8));
        if (agree == 2)
            for (std::size_t p = 36; p + 8 <= size && p <= 2048; ++p)
                if (std::memcmp(&bytes[p], "data", 4) == 0) {
                    put(p + 4, static_cast<std::uint32_t>(size - p - 8));
                    break;
                }
    }
    harness::Spill(source, bytes);

    const int fds = harness::OpenDescriptors();
    harness::Report report;
    try {
        report = harness::RunEveryOperation(source, outDir, choices);
    } catch (const VelmoraError& e) {
        std::fprintf(stderr, "unexpected failure outside an operation: %s\n", e.what());
        fuzz::Finding("an analysis of a readable file threw");
    }
    for (const auto& v : report.violations) std::fprintf(stderr, "violation: %s\n", v.c_str());
    if (!report.violations.empty()) {
        const WaveInfo& w = report.info;
        std::fprintf(stderr, "header: channels %d bits %d blockAlign %d rate %d dataSize %llu fmt at %d data at %d\n",
                     w.format.channels, w.format.bitsPerSample, w.format.blockAlign, w.format.samplesPerSec,
                     static_cast<unsigned long long>(w.dataSize), w.fmtChunkPos, w.dataChunkPos);
    }
    // VELMORA_FUZZ_KEEP_GOING: only print broken rules (to survey a corpus).
    if (!std::getenv("VELMORA_FUZZ_KEEP_GOING")) VELMORA_CHECK(report.violations.empty());
    tally.skipped += report.skippedAsHuge;
    for (const auto& o : report.ops) {
        auto& n = tally.counts[o.op];
        ++n[(o.enabled ? 0u : 2u) + (o.failure ? 1u : 0u)];
    }
    VELMORA_CHECK(harness::OpenDescriptors() == fds);
    std::filesystem::remove_all(root);
    return 0;
}
