// The failure text an action throws, and the code that says which failure it
// was: tests that check which failure happened compare the code, so that the
// words can be worded again without touching them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ops/catalogue.h"
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

// The code of a text and, for a text around a name, that name after a space
// ("source-changed /rec/a.wav"): which failure, and which file it names. A
// text the catalogue does not hold comes back whole, to show in the failure.
inline std::string CodeOf(const std::string& text) {
    const std::string code = ErrorCodeOf(text);
    if (code.empty()) return text;
    for (const CatalogueEntry& e : TextCatalogue()) {
        if (e.code != code || !e.aroundName || text.size() < e.prefix.size() + e.suffix.size()) continue;
        if (text.starts_with(e.prefix) && text.ends_with(e.suffix))
            return code + " " + text.substr(e.prefix.size(), text.size() - e.prefix.size() - e.suffix.size());
    }
    return code;
}

// CodeOf of each text: the messages a host was given, in order.
inline std::vector<std::string> CodesOf(const std::vector<std::string>& texts) {
    std::vector<std::string> codes;
    for (const std::string& t : texts) codes.push_back(CodeOf(t));
    return codes;
}

inline std::string CodeOfFailure(const std::function<void()>& f) { return CodeOf(ErrorOf(f)); }

}  // namespace velmora::test
