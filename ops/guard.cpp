#include "ops/guard.h"

#include "wav/error.h"

namespace velmora {

void RequireAnalysed(const std::string& source, const WaveInfo& info) {
    if (!info.analysisComplete || source != info.analyzedPath) throw VelmoraError(kTextNotAnalysed);
}

void RequireRateRewritable(const std::string& source, const WaveInfo& info) {
    if (!(info.analysisComplete || info.rateRewriteOnly) || source != info.analyzedPath)
        throw VelmoraError(kTextNotAnalysed);
}

}  // namespace velmora
