#include "wav/error.h"

namespace velmora {

std::string TextNotInteger(const std::string& text) { return "'" + text + "' は整数ではありません"; }

}  // namespace velmora
