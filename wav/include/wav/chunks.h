// The chunk table of a RIFF/WAVE file: one walk of the chunk headers from
// the first chunk after "WAVE" to the end of the file. Every reader of the
// file's structure works from this table; nothing else looks for chunk ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wav/rf64.h"

namespace velmora {

class File;

enum class ChunkFault {
    None,
    PastEnd,      // the body runs past the end of the file
    NoPad,        // an odd body without the pad byte after it
    Unfinalized,  // a data chunk declaring 0 or 0xFFFFFFFF: a recording never closed
    NotAChunk,    // bytes where a chunk header should be
    TooMany,      // the walk gave up: more chunks than any real file has
};

struct ChunkEntry {
    std::string id;             // the four characters; empty for NotAChunk
    std::uint64_t offset = 0;   // of the id
    std::uint64_t size = 0;     // the body size as declared (the ds64 one where the field defers to it);
                                // for NotAChunk the bytes up to the end of the file
    bool padded = false;        // the pad byte after an odd body is there
    std::uint64_t overrun = 0;  // bytes the body would need past the end of the file
    ChunkFault fault = ChunkFault::None;
    // For a data chunk whose size cannot be trusted (Unfinalized, PastEnd):
    // the bytes that really follow its header, in whole frames, up to a
    // chain of chunks that ends the file or up to the end of the file.
    std::optional<std::uint64_t> extent;

    std::uint64_t bodyStart() const { return offset + 8; }
    // One past the last byte that belongs to the chunk (pad byte included).
    std::uint64_t end() const { return offset + 8 + size + (padded ? 1 : 0); }
    bool wellFormed() const { return fault == ChunkFault::None || fault == ChunkFault::NoPad; }
};

struct ChunkTable {
    std::vector<ChunkEntry> chunks;
    std::uint64_t length = 0;  // the file's length
    // Where the chain stopped making sense (bytes that are no chunk header,
    // or the body of a chunk that is not data and runs past the end of the
    // file); nullopt when the chunks run to the end of the file.
    std::optional<std::uint64_t> brokenAt;

    // The first chunk with this id, or nullptr.
    const ChunkEntry* find(const char* id) const;
    // Every chunk from this offset on is well formed and together they end
    // exactly at the end of the file (no chunks at all when from is the end).
    bool wellFormedFrom(std::uint64_t from) const;
};

struct ChunkWalkOptions {
    // The 64-bit sizes of an RF64 file.
    std::optional<Ds64> ds64;
    // Frame size for the data of an unfinalized recording, when no format
    // chunk is passed before the data chunk (1 = any byte).
    std::uint32_t blockAlign = 0;
};

// A trailing chunk after the data of an unfinalized recording is looked for
// in this many bytes before the end of the file: metadata is small next to
// the samples, and a recording that simply stops must not cost a read of
// the whole file.
inline constexpr std::uint64_t kTrailerSearchBytes = std::uint64_t{64} << 20;
// More chunks than this is no real file; the walk stops there.
inline constexpr std::size_t kMaxChunks = 100000;

// Walks the chunk headers from `from` to the end of the file (length bytes).
// It never looks inside a chunk's body for another chunk, except where a
// data chunk's size cannot be trusted: then it looks for a chain of chunks
// at frame boundaries in the last kTrailerSearchBytes that ends the file.
ChunkTable WalkChunks(File& file, std::uint64_t from, std::uint64_t length, const ChunkWalkOptions& options = {});

// A chunk id as real files write them: four printable ASCII characters, the
// first not a blank.
bool PlausibleChunkId(const std::uint8_t* id);

// Ids that writers put into WAV files: where a header could be audio that
// happens to look like one, only these count.
bool IsCommonChunkId(const std::uint8_t* id);

// What is wrong with the chunk, in a few words for the user; empty when
// nothing is.
std::string ChunkNote(const ChunkEntry& chunk);

}  // namespace velmora
