// Where new files go and what they are called: every operation that writes a
// new file and both front ends take output paths from here.
#pragma once

#include <string>

namespace velmora {

// The folder a source's new files go to when none was chosen: the source's
// own folder, or "." for a bare file name (never the root by accident).
std::string DefaultOutputFolder(const std::string& sourcePath);
// The chosen folder, or the source's default when none was chosen (empty).
std::string OutputFolderFor(const std::string& chosenFolder, const std::string& sourcePath);
// <folder>/<source's base name><suffix>, the folder as OutputFolderFor gives it.
std::string OutputPath(const std::string& chosenFolder, const std::string& sourcePath, const std::string& suffix);
// <folder>/<source's whole file name, extension kept><suffix>.
std::string OutputPathKeepingExtension(const std::string& chosenFolder, const std::string& sourcePath,
                                       const std::string& suffix);

}  // namespace velmora
