// Windows takes paths and console text as UTF-16; everything of ours is
// UTF-8. These convert at the edge (Windows builds only).
#pragma once

#ifdef _WIN32
#include <string>

namespace velmora {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace velmora
#endif
