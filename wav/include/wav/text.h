// Path pieces, number conversion and number formatting shared by the
// analysis and the operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Only "/" separates folders; ":" and backslashes are ordinary name characters.
inline constexpr char kPathSeparator = '/';

// The path with the separator appended unless it already ends in one; an
// empty path gives the separator alone.
std::string EnsureTrailingSeparator(const std::string& path);

// Everything up to and including the last separator; "" when none.
std::string FolderPart(const std::string& path);
// What follows the last separator.
std::string FileNamePart(const std::string& path);
// The name without its last extension (from its last "." on).
std::string StripExtension(const std::string& name);
// File name part without extension: the base of every output name.
std::string BaseName(const std::string& path);
// A file name placed in a folder; an empty folder is the current directory
// (the name alone), never the root.
std::string PathInFolder(const std::string& folder, const std::string& name);

// The standard integer conversion: leading blanks, an optional sign, decimal
// digits or hexadecimal after "$", "x", "X", "0x", "0X"; nothing may follow
// and the value must fit 32 bits. nullopt when the text does not convert.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
// As above, throwing "'%s' は整数ではありません".
std::int32_t StrToInt(const std::string& text);

// "0", "999", "1,000", "4,294,967,295".
std::string GroupThousands(std::uint64_t value);

// printf into a std::string; "%X" gives the uppercase hex the texts use.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velmora
