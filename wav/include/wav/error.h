// Failure texts of the format and of number conversion. The error type and
// the failure texts of files come from the file layer, included here so
// that one include still gives every text.
#pragma once

#include <string>

#include "io/error.h"

namespace velmora {

std::string TextNotInteger(const std::string& text);  // '%s' は整数ではありません

inline constexpr const char* kTextDivByZero = "0 による浮動小数点数除算";
// A format chunk without room for its 16 bytes of fields.
inline constexpr const char* kTextFormatTooShort = "fmtチャンクが16バイトより短いため扱えません";
// A format chunk and a data chunk that share bytes (found by the byte search
// of a broken chain): a patch of one would write into the other.
inline constexpr const char* kTextChunksOverlap = "fmtチャンクとdataチャンクが重なっているため書き換えられません";
inline constexpr const char* kTextNotAnalysed = "解析済みのファイルではありません。ファイルを選び直してください。";

}  // namespace velmora
