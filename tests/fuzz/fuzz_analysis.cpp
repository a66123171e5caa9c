// AnalyzeWave on arbitrary bytes, with the report and the hex dump built.
#include <cstdint>
#include <fstream>

#include "fuzz_common.h"
#include "ops/operations.h"
#include "wav/analysis.h"
#include "wav/error.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::ScratchDir() + "/analysis.wav";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    WaveInfo info;
    AnalysisResult r;
    try {
        r = AnalyzeWave(path, info);
    } catch (const VelmoraError&) {
        fuzz::Finding("a readable file was refused as unopenable");
    }
    if (r.complete()) {
        const std::optional<OperationSet> allowed = AllowedOperations(info, r);
        VELMORA_CHECK(r.report && allowed && r.hexDump);
        VELMORA_CHECK(r.report->size() == 16 || r.report->size() == 20);
        VELMORA_CHECK(r.hexDump->size() == (r.headerSize + 15) / 16);
        VELMORA_CHECK(info.fmtChunkPos >= 12 && info.fmtChunkPos <= 2048);
        VELMORA_CHECK(info.dataChunkPos >= 36 && info.dataChunkPos <= 2048);
        VELMORA_CHECK(info.analysisComplete);
        // The transforms are offered only for a file whose header agrees with its length.
        using enum Operation;
        for (Operation op : {Split, Surround, Normalize, RebuildHeader, Multiplex, SetRate})
            if (allowed->contains(op)) VELMORA_CHECK(r.fileSizeOK && r.footerOK && info.listFooterSize == 0);
        if (allowed->contains(FixRiffSize)) VELMORA_CHECK(!r.fileSizeOK);
    } else {
        VELMORA_CHECK(!info.analysisComplete);
        VELMORA_CHECK(!r.report);
        // A stored rate of 0 leaves the rate rewrite, and only it, offered.
        if (const std::optional<OperationSet> allowed = AllowedOperations(info, r)) {
            VELMORA_CHECK(info.rateRewriteOnly && info.format.samplesPerSec == 0 && r.failure);
            VELMORA_CHECK(*allowed == OperationSet{Operation::SetRate});
        }
        VELMORA_CHECK(r.messages.size() == 1 || r.failure);
    }
    return 0;
}
