#include "ops/output_paths.h"

#include "wav/text.h"

namespace velmora {

std::string DefaultOutputFolder(const std::string& sourcePath) {
    std::string folder = FolderPart(sourcePath);
    return folder.empty() ? std::string(".") : folder;
}

std::string OutputFolderFor(const std::string& chosenFolder, const std::string& sourcePath) {
    return chosenFolder.empty() ? DefaultOutputFolder(sourcePath) : chosenFolder;
}

std::string OutputPath(const std::string& chosenFolder, const std::string& sourcePath, const std::string& suffix) {
    return PathInFolder(OutputFolderFor(chosenFolder, sourcePath), BaseName(sourcePath) + suffix);
}

std::string OutputPathKeepingExtension(const std::string& chosenFolder, const std::string& sourcePath,
                                       const std::string& suffix) {
    return PathInFolder(OutputFolderFor(chosenFolder, sourcePath), FileNamePart(sourcePath) + suffix);
}

}  // namespace velmora
