// AnalyzeWave on arbitrary bytes, with the report and the hex dump built.
#include <cstdint>
#include <fstream>

#include "fuzz_common.h"
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
        VELMORA_CHECK(r.report && r.enabled && r.hexDump);
        VELMORA_CHECK(r.report->size() == 16 || r.report->size() == 20);
        VELMORA_CHECK(r.hexDump->size() == (r.headerSize + 15) / 16);
        VELMORA_CHECK(info.fmtChunkPos >= 12 && info.fmtChunkPos <= 2048);
        VELMORA_CHECK(info.dataChunkPos >= 36 && info.dataChunkPos <= 2048);
        VELMORA_CHECK(info.analysisComplete);
        // The transforms are offered only for a file whose header agrees with its length.
        const EnabledControls& e = *r.enabled;
        if (e.Button3 || e.surround || e.Button7 || e.Button8 || e.Button5 || e.Button10)
            VELMORA_CHECK(r.fileSizeOK && r.footerOK && info.listFooterSize == 0);
        if (e.Button13) VELMORA_CHECK(!r.fileSizeOK);
    } else {
        VELMORA_CHECK(!info.analysisComplete);
        VELMORA_CHECK(!r.report);
        // A stored rate of 0 leaves the rate rewrite, and only it, offered.
        if (r.enabled) {
            const EnabledControls& e = *r.enabled;
            VELMORA_CHECK(info.rateRewriteOnly && info.samplesPerSec == 0 && r.failure);
            VELMORA_CHECK(e.Button10 && e.ComboBox1);
            VELMORA_CHECK(!(e.Button3 || e.surround || e.Button7 || e.Button8 || e.Button5 || e.Button11 ||
                            e.Button13 || e.Button14));
        }
        VELMORA_CHECK(r.messages.size() == 1 || r.failure);
    }
    return 0;
}
