#include "io/paths.h"

#include <string_view>

namespace velmora {

std::string EnsureTrailingSeparator(const std::string& path) {
    if (!path.empty() && std::string_view(kPathSeparators).find(path.back()) != std::string_view::npos) return path;
    return path + kPathSeparator;
}

static std::size_t LastSeparator(const std::string& path) { return path.find_last_of(kPathSeparators); }

std::string FolderPart(const std::string& path) {
    auto pos = LastSeparator(path);
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string FileNamePart(const std::string& path) {
    auto pos = LastSeparator(path);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string StripExtension(const std::string& name) {
    auto pos = name.rfind('.');
    return pos == std::string::npos ? name : name.substr(0, pos);
}

std::string BaseName(const std::string& path) { return StripExtension(FileNamePart(path)); }

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : EnsureTrailingSeparator(folder) + name;
}

}  // namespace velmora
