// The failure text an action throws, for comparing whole messages.
#pragma once

#include <functional>
#include <string>

#include "wav/error.h"

namespace velmora::test {

inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VelmoraError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace velmora::test
