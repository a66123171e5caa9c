#include "wav/chunks.h"

#include <algorithm>
#include <cstring>

#include "io/file.h"
#include "wav/bytes.h"
#include "wav/text.h"

namespace velmora {

namespace {

constexpr std::uint32_t kUnsetSize = 0xFFFFFFFFu;

// Chunks from `at` on, each with a plausible id, that end exactly at the end
// of the file (a missing pad byte at the very end allowed). A handful is
// enough for the tags a recorder appends.
bool ChainReachesEnd(File& file, std::uint64_t at, std::uint64_t length) {
    for (int chunks = 0; chunks < 64 && at + 8 <= length; ++chunks) {
        std::uint8_t head[8];
        if (file.readAt(at, head, 8) < 8 || !PlausibleChunkId(head)) return false;
        const std::uint32_t size = GetU32(head + 4);
        const std::uint64_t end = at + 8 + size + (size & 1);
        if (end == length || (end - 1 == length && (size & 1) != 0)) return true;
        at = end;
    }
    return false;
}

// Where the samples of a data chunk whose size cannot be trusted end: the
// first frame boundary in the searched tail at which a chain of chunks runs
// to the end of the file, else the end of the file.
std::uint64_t TrailingChainAt(File& file, std::uint64_t dataStart, std::uint64_t length, std::uint64_t frame) {
    std::uint64_t from = dataStart;
    if (length - dataStart > kTrailerSearchBytes)
        from = dataStart + (length - kTrailerSearchBytes - dataStart + frame - 1) / frame * frame;
    constexpr std::size_t kBlock = 1 << 20;
    const std::uint64_t step = std::max<std::uint64_t>(kBlock / frame, 1) * frame;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(step) + 8);
    for (std::uint64_t base = from; base + 8 <= length; base += step) {
        const std::size_t got = file.readAt(base, buf.data(), buf.size());
        for (std::uint64_t off = 0; off + 8 <= got && off < step; off += frame) {
            const std::uint8_t* h = buf.data() + off;
            if (!PlausibleChunkId(h)) continue;
            // Most plausible-looking audio bytes give a size past the end.
            if (base + off + 8 + GetU32(h + 4) > length) continue;
            if (ChainReachesEnd(file, base + off, length)) return base + off;
        }
    }
    return length;
}

// The size of a data chunk: the ds64 one where the field is unset, the true
// size of a plain file past 4 GiB; returns whether it still cannot be
// trusted (unset, zero or past the end).
bool ResolveDataSize(ChunkEntry& e, std::uint32_t size32, std::uint64_t available, std::uint64_t length,
                     const ChunkWalkOptions& options) {
    bool untrusted = false;
    if (options.ds64 && size32 == kUnsetSize) {
        e.size = options.ds64->dataSize;
    } else if (!options.ds64 && length > 0xFFFFFFFFull && (available & 0xFFFFFFFFull) == size32) {
        // A plain file past 4 GiB holds the size modulo 2^32; it reads
        // back only while the data runs to the end of the file.
        e.size = available;
    } else if (size32 == kUnsetSize) {
        untrusted = true;
    }
    if (e.size == 0 || e.size > available) untrusted = true;
    return untrusted;
}

// A data chunk whose size cannot be trusted ends where a chain of chunks
// runs on to the end of the file; returns where the walk goes on.
std::uint64_t EndUntrusted(File& file, ChunkEntry& e, std::uint64_t length, std::uint32_t blockAlign) {
    const std::uint64_t bodyStart = e.offset + 8;
    const std::uint64_t available = length - bodyStart;
    const std::uint64_t frame = blockAlign > 0 ? blockAlign : 1;
    const std::uint64_t chainAt = TrailingChainAt(file, bodyStart, length, frame);
    // An empty data chunk, and what follows it is chunks.
    if (e.size == 0 && chainAt == bodyStart) return bodyStart;
    e.extent = chainAt - bodyStart;
    if (e.size > available) {
        e.fault = ChunkFault::PastEnd;
        e.overrun = e.size + (e.size & 1) - available;
    } else {
        e.fault = ChunkFault::Unfinalized;
    }
    return chainAt;
}

// Whether an odd body ending at `end` has its pad byte; returns where the
// next chunk starts.
std::uint64_t SettlePad(File& file, ChunkEntry& e, std::uint64_t end, std::uint64_t length) {
    if (end == length) {
        e.fault = ChunkFault::NoPad;
        return end;
    }
    if (end + 1 == length) {
        e.padded = true;
        return length;
    }
    // Some writers leave the pad byte out: the next header then starts right
    // after the body instead of one byte later.
    std::uint8_t head[9] = {};
    const std::size_t n = file.readAt(end, head, 9);
    // Only a well-known id right after the body counts as such a chunk;
    // anything else reads the byte as the pad.
    const auto known = [&](std::uint64_t header, const std::uint8_t* h) {
        return IsCommonChunkId(h) && header + 8 + GetU32(h + 4) <= length;
    };
    if (n == 9 && !known(end + 1, head + 1) && known(end, head)) {
        e.fault = ChunkFault::NoPad;
        return end;
    }
    e.padded = true;
    return end + 1;
}

}  // namespace

bool IsCommonChunkId(const std::uint8_t* id) {
    static constexpr const char* kIds[] = {"LIST", "data", "fmt ", "fact", "cue ", "bext", "iXML", "JUNK", "junk",
                                           "id3 ", "ID3 ", "PAD ", "FLLR", "levl", "smpl", "inst", "acid", "PEAK",
                                           "afsp", "DISP", "axml", "chna", "umid", "SyLp", "_PMX", "minf", "elm1",
                                           "ds64", "plst", "labl", "note", "ltxt", "regn", "wavl", "slnt"};
    for (const char* k : kIds)
        if (std::memcmp(id, k, 4) == 0) return true;
    return false;
}


bool PlausibleChunkId(const std::uint8_t* id) {
    const auto printable = [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; };
    return id[0] != ' ' && printable(id[0]) && printable(id[1]) && printable(id[2]) && printable(id[3]);
}

const ChunkEntry* ChunkTable::find(const char* id) const {
    for (const ChunkEntry& c : chunks)
        if (c.id == id) return &c;
    return nullptr;
}

bool ChunkTable::wellFormedFrom(std::uint64_t from) const {
    if (from == length) return true;
    bool started = false;
    std::uint64_t at = from;
    for (const ChunkEntry& c : chunks) {
        if (c.offset < from) continue;
        if (c.offset != at || !c.wellFormed()) return false;
        started = true;
        at = c.end();
    }
    return started && at >= length && !brokenAt;
}

ChunkTable WalkChunks(File& file, std::uint64_t from, std::uint64_t length, const ChunkWalkOptions& options) {
    ChunkTable table;
    table.length = length;
    std::uint32_t blockAlign = options.blockAlign;
    std::uint64_t at = from;
    while (at < length) {
        ChunkEntry e;
        e.offset = at;
        std::uint8_t head[8] = {};
        const std::size_t got = at + 8 <= length ? file.readAt(at, head, 8) : 0;
        const bool tooMany = table.chunks.size() >= kMaxChunks;
        if (tooMany || got < 8 || !PlausibleChunkId(head)) {
            e.fault = tooMany ? ChunkFault::TooMany : ChunkFault::NotAChunk;
            e.size = length - at;
            table.chunks.push_back(e);
            table.brokenAt = at;
            break;
        }
        e.id.assign(reinterpret_cast<const char*>(head), 4);
        const std::uint32_t size32 = GetU32(head + 4);
        e.size = size32;
        const std::uint64_t bodyStart = at + 8;
        const std::uint64_t available = length - bodyStart;
        bool untrusted = false;
        if (e.id == "data") {
            untrusted = ResolveDataSize(e, size32, available, length, options);
        } else if (e.id == "fmt " && size32 >= 16 && available >= 16) {
            std::uint8_t align[2];
            if (file.readAt(bodyStart + 12, align, 2) == 2) blockAlign = GetU16(align);
        }

        if (untrusted) {
            at = EndUntrusted(file, e, length, blockAlign);
            table.chunks.push_back(e);
            continue;
        }
        if (e.size > available) {
            e.fault = ChunkFault::PastEnd;
            e.overrun = e.size + (e.size & 1) - available;
            table.chunks.push_back(e);
            table.brokenAt = bodyStart;
            break;
        }
        const std::uint64_t end = bodyStart + e.size;
        at = (e.size & 1) != 0 ? SettlePad(file, e, end, length) : end;
        table.chunks.push_back(e);
    }
    return table;
}

std::string ChunkNote(const ChunkEntry& c) {
    std::string note;
    switch (c.fault) {
        case ChunkFault::None: break;
        case ChunkFault::PastEnd: note = "ファイル終端を" + GroupThousands(c.overrun) + "Byte越えています"; break;
        case ChunkFault::NoPad: note = "パッドバイトがありません"; break;
        case ChunkFault::Unfinalized: note = "サイズが未確定です(録音が終了していません)"; break;
        case ChunkFault::NotAChunk: note = "チャンクではないデータです"; break;
        case ChunkFault::TooMany: note = "チャンクが多すぎるため以降は読んでいません"; break;
    }
    if (c.extent) note += "(実データ " + GroupThousands(*c.extent) + "Byte)";
    return note;
}

}  // namespace velmora
