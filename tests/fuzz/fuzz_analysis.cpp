// AnalyzeWave on arbitrary bytes, with the report and the hex dump built.
#include <algorithm>
#include <cstdint>
#include <fstream>

#include "fuzz_common.h"
#include "ops/operations.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav/metadata.h"

using namespace velmora;

namespace {

// Every text the descriptive chunks gave is UTF-8 (the JSON and the window
// take it as such), the lists stay under their caps, and the report has the
// metadata section exactly when there is something to show.
void CheckMetadata(const AnalysisResult& r) {
    const Metadata& m = r.metadata;
    std::vector<std::string> texts = m.notes;
    if (m.bext)
        texts.insert(texts.end(), {m.bext->description, m.bext->originator, m.bext->originatorReference,
                                   m.bext->originationDate, m.bext->originationTime, m.bext->codingHistory});
    if (m.ixml) texts.insert(texts.end(), {m.ixml->project, m.ixml->scene, m.ixml->take, m.ixml->tape, m.ixml->note});
    for (const InfoField& f : m.info) texts.insert(texts.end(), {f.id, f.text});
    for (const CuePoint& c : m.cues) texts.insert(texts.end(), {c.label, c.note, c.text});
    for (const std::string& t : texts) VELMORA_CHECK(IsValidUtf8(t));
    for (const std::string& line : *r.report) VELMORA_CHECK(IsValidUtf8(line));
    VELMORA_CHECK(m.info.size() <= kMetadataItemCap && m.cues.size() <= kMetadataItemCap);
    VELMORA_CHECK(!m.sampler || m.sampler->loops.size() <= kMetadataItemCap);
    const bool shown = std::find(r.report->begin(), r.report->end(), "** メタデータ **") != r.report->end();
    VELMORA_CHECK(shown == !m.empty());
}

}  // namespace

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
        VELMORA_CHECK(r.report->size() >= 16);
        CheckMetadata(r);
        // The dump stops at 2056 bytes however far the data chunk lies.
        VELMORA_CHECK(r.hexDump->size() == (std::min<std::uint32_t>(r.headerSize, 2056) + 15) / 16);
        // Both ids are in the file, wherever they are.
        VELMORA_CHECK(info.fmtChunkPos >= 12 && static_cast<std::uint64_t>(info.fmtChunkPos) + 4 <= size);
        VELMORA_CHECK(info.dataChunkPos >= 12 && static_cast<std::uint64_t>(info.dataChunkPos) + 4 <= size);
        // Found by the chain, or by the search only where the chain broke.
        const bool inChain = std::any_of(r.chunks.begin(), r.chunks.end(), [&](const ChunkEntry& c) {
            return c.id == "data" && c.offset == static_cast<std::uint64_t>(info.dataChunkPos);
        });
        VELMORA_CHECK(inChain || r.searchedFrom);
        // The chunk table covers the file from offset 12 without gaps or overlaps.
        std::uint64_t at = 12;
        for (const ChunkEntry& c : r.chunks) {
            VELMORA_CHECK(c.offset == at || c.fault == ChunkFault::NotAChunk || c.fault == ChunkFault::TooMany);
            at = c.extent ? c.bodyStart() + *c.extent : c.end();
        }
        // Every operation that is not offered says why.
        const OperationReasons why = WhyNotOffered(info, r);
        for (Operation op : kAllOperations) VELMORA_CHECK(WhyNot(why, op).empty() == allowed->contains(op));
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
