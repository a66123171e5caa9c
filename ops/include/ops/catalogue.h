// The catalogue of the core's failure and refusal texts: each with the stable
// ASCII code that scripts and tests compare instead of the words. The texts
// are defined beside the code that raises them; this is their one index.
#pragma once

#include <string>
#include <vector>

namespace velmora {

struct CatalogueEntry {
    std::string code;    // "cannot-open", "source-changed", …
    std::string prefix;  // the text, or for a text around a name the part before it
    std::string suffix;  // the part after the name; empty for a fixed text
    bool aroundName = false;
};
const std::vector<CatalogueEntry>& TextCatalogue();

// The code of a failure or refusal text (a VelmoraError's what()); empty for
// a text the catalogue does not hold.
std::string ErrorCodeOf(const std::string& text);

}  // namespace velmora
