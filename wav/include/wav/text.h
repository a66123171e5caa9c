// Number conversion and number formatting shared by the analysis and the
// operations. The path pieces come from the file layer, included here so
// that one include still gives both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "io/paths.h"

namespace velmora {

// The standard integer conversion: leading blanks, an optional sign, decimal
// digits or hexadecimal after "$", "x", "X", "0x", "0X"; nothing may follow
// and the value must fit 32 bits. nullopt when the text does not convert.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
// As above, throwing "'%s' は整数ではありません".
std::int32_t StrToInt(const std::string& text);

// "0", "999", "1,000", "4,294,967,295".
std::string GroupThousands(std::uint64_t value);

// printf into a std::string; "%X" gives the uppercase hex the texts use.
#ifdef __MINGW_PRINTF_FORMAT
// mingw: the C99 printf of __USE_MINGW_ANSI_STDIO (%zu, %lld), not msvcrt's.
std::string Format(const char* fmt, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
#else
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

}  // namespace velmora
