// The operations an analysis allows, empty when it gave no verdict.
#pragma once

#include "ops/operations.h"

namespace velmora::test {

inline OperationSet Allowed(const WaveInfo& info, const AnalysisResult& result) {
    return AllowedOperations(info, result).value_or(OperationSet{});
}

}  // namespace velmora::test
