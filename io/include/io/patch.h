// Patches of several fields inside an existing file, whole or not at all.
// Fields that share one 4 KiB block go in one write; fields further apart
// are first recorded in a small undo file beside the file, so a run killed
// between two writes leaves a record from which the next analysis puts the
// old bytes back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class File;

struct FieldPatch {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// Writes every field into the open file, flushed and read back, or leaves
// every field as it was and throws ("ファイル %s に書き込めません" and the
// like). Every field must lie inside the file.
void PatchFields(File& file, std::vector<FieldPatch> fields);

// The undo record of a patch of `path`: a hidden file in its folder.
std::string UndoRecordPath(const std::string& path);

// What a killed patch left: when the undo record of `path` is there and
// some of its fields hold the new bytes while others hold the old, the old
// ones are put back; a patch that had finished keeps its bytes. The record
// goes in either case. True when bytes were put back. Never throws: a file
// that cannot be mended keeps its record for the next time.
bool UndoInterruptedPatch(const std::string& path);

}  // namespace velmora
