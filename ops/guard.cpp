#include "guard.h"

#include "wav/error.h"

namespace velmora {

void RequireAnalysed(const std::string& fileField, const WaveInfo& info) {
    if (!info.analysisComplete || fileField != info.analyzedPath) throw VelmoraError(kTextNotAnalysed);
}

void RequireRateRewritable(const std::string& fileField, const WaveInfo& info) {
    if (!(info.analysisComplete || info.rateRewriteOnly) || fileField != info.analyzedPath)
        throw VelmoraError(kTextNotAnalysed);
}

}  // namespace velmora
