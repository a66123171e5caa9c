// Path pieces: the folder and name parts of a path and the names built from
// them, for the file layer's own files (locks, temporaries, undo records) and
// for every output name.
#pragma once

#include <string>

namespace velmora {

#ifdef _WIN32
// Windows takes "/" as well as its own "\\"; new names get "\\".
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
#else
// Only "/" separates folders; ":" and backslashes are ordinary name characters.
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
#endif

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

}  // namespace velmora
