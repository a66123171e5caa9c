#include "ops/operations.h"

#include <cstdint>

#include "wav/sample_format.h"

namespace velmora {

const char* OperationName(Operation op) {
    switch (op) {
        case Operation::Split: return "split";
        case Operation::Surround: return "surround";
        case Operation::Normalize: return "normalize";
        case Operation::RebuildHeader: return "rebuild-header";
        case Operation::Multiplex: return "mux";
        case Operation::RemoveFooter: return "remove-footer";
        case Operation::SetRate: return "set-rate";
        case Operation::FixRiffSize: return "fix-riff-size";
        case Operation::Recover: return "recover";
    }
    return "";
}

namespace {

OperationSet Rules(const WaveInfo& w, bool fileSizeOK, bool footerOK) {
    using enum Operation;
    // Samples wider than 16 bits, or float, that the transforms walk sample by
    // sample; 8- and 16-bit files keep the rules they always had.
    const std::optional<SampleFormat> format = TransformSampleFormat(w);
    const bool wide = format && format->wide();
    OperationSet s = OperationSet::All();  // every operation starts allowed ...
    s.erase(FixRiffSize);                  // ... except the RIFF size rewrite
    if (w.format.bitsPerSample != 16 || w.format.channels != 2 || (w.format.fmtSize != 18 && w.fmtChunkPos == 12)) s.erase(RebuildHeader);
    if ((w.format.bitsPerSample != 16 || w.format.channels != 2) && !(wide && w.format.channels == 2)) {
        s.erase(Surround);
        s.erase(Normalize);
    }
    if (w.format.channels == 1) s.erase(Split);
    if (w.format.bitsPerSample > 16 && !wide) {
        s.erase(Split);
        s.erase(Multiplex);
    }
    if (!IsIntegerPcm(w)) {
        s.erase(RebuildHeader);
        if (!(wide && format->isFloat())) {
            s.erase(Split);
            s.erase(Surround);
            s.erase(Normalize);
        }
    }
    const auto eraseCopies = [&s] {
        for (Operation op : {Split, Surround, Normalize, RebuildHeader, Multiplex, SetRate}) s.erase(op);
    };
    if (w.listFooterSize != 0)
        eraseCopies();
    else
        s.erase(RemoveFooter);
    if (!fileSizeOK || !footerOK) eraseCopies();
    if (!fileSizeOK) s.insert(FixRiffSize);
    // A recorder that stopped before finalizing leaves 0 or 0xFFFFFFFF, or a
    // size it reserved and never filled.
    const std::uint64_t start = static_cast<std::uint64_t>(w.dataChunkPos) + 8u;
    s.set(Recover, w.fileSize >= start &&
                       (w.dataSize == 0 || w.dataSize == 0xFFFFFFFFu || w.dataSize > w.fileSize - start));
    return s;
}

}  // namespace

std::optional<OperationSet> AllowedOperations(const WaveInfo& info, const AnalysisResult& result) {
    if (result.complete()) return Rules(info, result.fileSizeOK, result.footerOK);
    if (info.rateRewriteOnly) return OperationSet{Operation::SetRate};
    return std::nullopt;
}

}  // namespace velmora
