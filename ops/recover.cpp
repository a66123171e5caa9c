#include "ops/recover.h"

#include <algorithm>
#include <vector>

#include "ops/guard.h"
#include "ops/second_blocks.h"
#include "wav/rf64.h"
#include "wav/bytes.h"
#include "wav/error.h"

namespace velmora {

namespace {

bool PlausibleId(const std::uint8_t* id) {
    const auto ok = [](std::uint8_t c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || c == '_';
    };
    return id[0] != ' ' && ok(id[0]) && ok(id[1]) && ok(id[2]) && ok(id[3]);
}

// Chunks from `at` on, each with a plausible id, that end exactly at the end
// of the file (a pad byte after an odd size allowed).
bool ChunksReachEnd(File& file, std::uint64_t at, std::uint64_t length) {
    for (int chunks = 0; chunks < 64 && at + 8 <= length; ++chunks) {
        std::uint8_t head[8];
        if (file.readAt(at, head, 8) < 8 || !PlausibleId(head)) return false;
        const std::uint32_t size = GetU32(head + 4);
        const std::uint64_t end = at + 8 + size + (size & 1);
        if (end == length || (end - 1 == length && (size & 1) != 0)) return true;
        at = end;
    }
    return false;
}

// Where the sample data ends: the first frame boundary in the searched tail
// at which well-formed chunks run to the end of the file, else the end.
std::uint64_t DataEnd(File& file, std::uint64_t dataStart, std::uint64_t length, std::uint64_t frame) {
    std::uint64_t from = dataStart;
    if (length - dataStart > kTrailerSearchBytes)
        from = dataStart + (length - kTrailerSearchBytes - dataStart + frame - 1) / frame * frame;
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<std::uint8_t> buf(kBlock + 4);
    for (std::uint64_t base = from; base + 8 <= length; base += kBlock / frame * frame) {
        const std::size_t got = file.readAt(base, buf.data(), buf.size());
        for (std::uint64_t off = 0; off + 4 <= got && off < kBlock / frame * frame; off += frame)
            if (PlausibleId(buf.data() + off) && ChunksReachEnd(file, base + off, length)) return base + off;
    }
    return length;
}

// The one in-place write of the recovery: the header from the RIFF size to
// the data size, as it is, with the two 32-bit size fields changed (or the
// ds64 sizes of an RF64 file); written, flushed and read back at once, so
// the file holds both new sizes or neither.
void WriteSizeFields(File& file, std::uint64_t dataChunkPos, const SizeRepair& sizes, bool rf64) {
    if (rf64) {
        PatchDs64Sizes(file, sizes.riffSize, sizes.dataSize);
        return;
    }
    std::vector<std::uint8_t> span(static_cast<std::size_t>(dataChunkPos + 4));
    if (file.readAt(4, span.data(), span.size()) != span.size()) throw VelmoraError(TextCannotRead(file.path()));
    PutU32(span.data(), static_cast<std::uint32_t>(sizes.riffSize));
    PutU32(span.data() + dataChunkPos, static_cast<std::uint32_t>(sizes.dataSize));
    PatchInPlace(file, 4, span.data(), span.size());
}

}  // namespace

std::optional<SizeRepair> PlanSizeRepair(File& file, std::uint64_t dataChunkPos, std::uint64_t declaredDataSize,
                                         std::uint64_t riffSize, std::uint32_t blockAlign, bool rf64) {
    const std::uint64_t length = file.size();
    const std::uint64_t dataStart = dataChunkPos + 8;
    if (length < dataStart || blockAlign == 0) return std::nullopt;
    // A plain file past 4 GiB holds its sizes modulo 2^32, which reads back
    // only while the data runs to the end of the file.
    const bool wraps = !rf64 && length - 8 > 0xFFFFFFFFull;
    const bool unfinalized = declaredDataSize == 0 || declaredDataSize == 0xFFFFFFFFu || declaredDataSize == ~0ull ||
                             declaredDataSize > length - dataStart;
    if (!unfinalized) return std::nullopt;
    const std::uint64_t end = DataEnd(file, dataStart, length, blockAlign);
    SizeRepair sizes;
    sizes.dataSize = (end - dataStart) / blockAlign * blockAlign;
    sizes.riffSize = length - 8;
    if (wraps) {
        if (dataStart + sizes.dataSize != length) return std::nullopt;
        if ((sizes.dataSize & 0xFFFFFFFFull) == declaredDataSize && (sizes.riffSize & 0xFFFFFFFFull) == riffSize)
            return std::nullopt;
        return sizes;
    }
    if (sizes.dataSize == declaredDataSize && sizes.riffSize == riffSize) return std::nullopt;
    return sizes;
}

std::vector<std::string> RecoverDataSize(WaveInfo& info, const RecoverOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    if (info.format.blockAlign <= 0) throw VelmoraError(kTextBadLayout);

    File file = File::OpenReadWrite(options.source);
    LockForPatch(file, info);
    // Positions and sizes are the analysed file's; a file that changed
    // length since would be patched by stale numbers.
    if (file.size() != info.fileSize) throw VelmoraError(kTextNotAnalysed);
    std::uint8_t head[8];
    const auto dataChunkPos = static_cast<std::uint64_t>(info.dataChunkPos);
    std::uint8_t riff[kDs64At + kDs64ChunkSize];
    if (file.readAt(dataChunkPos, head, 8) < 8 || file.readAt(0, riff, sizeof riff) < 8) throw VelmoraError(kTextNotAnalysed);
    const std::optional<Ds64> ds64 = info.rf64 ? ReadDs64(riff, sizeof riff) : std::nullopt;
    if (info.rf64 && !ds64) throw VelmoraError(kTextNotAnalysed);
    const std::optional<SizeRepair> sizes =
        ds64 ? PlanSizeRepair(file, dataChunkPos, ds64->dataSize, ds64->riffSize,
                              static_cast<std::uint32_t>(info.format.blockAlign), true)
             : PlanSizeRepair(file, dataChunkPos, GetU32(head + 4), GetU32(riff + 4),
                              static_cast<std::uint32_t>(info.format.blockAlign));
    if (!sizes) {
        file.close();
        host.message(kTextDataSizeHealthy);
        return {};
    }
    WriteSizeFields(file, dataChunkPos, *sizes, ds64.has_value());
    file.close();
    info.riffSize = sizes->riffSize;
    info.dataSize = sizes->dataSize;
    host.progress(100);
    return {options.source};
}

}  // namespace velmora
