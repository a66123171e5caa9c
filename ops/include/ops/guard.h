// Every main-tab operation goes through this check first: it acts only on the
// file that the last analysis described completely.
#pragma once

#include <string>

#include "wav/waveinfo.h"

namespace velmora {

// Throws VelmoraError("解析済みのファイルではありません。ファイルを選び直してください。")
// unless source is the file of the last completed analysis.
void RequireAnalysed(const std::string& source, const WaveInfo& info);
// The same for the rate rewrite, which may also mend a file whose analysis
// stopped on a stored rate of 0.
void RequireRateRewritable(const std::string& source, const WaveInfo& info);

}  // namespace velmora
