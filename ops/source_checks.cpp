#include "ops/source_checks.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "wav/bytes.h"
#include "wav/chunks.h"
#include "wav/error.h"
#include "wav/rf64.h"

namespace velmora {

namespace {

std::atomic<int> writerCheckPause{150};
std::atomic<bool> writerLeases{true};

bool MatchesAnalysis(const FileIdentity& id, const WaveInfo& info) {
    return id.device == info.fileDevice && id.inode == info.fileInode && id.length == info.fileSize &&
           id.modifiedNs == info.fileModifiedNs;
}

// The path's file against the analysis. A path that names no regular file
// is left to the open, which reports it as a file it cannot open.
void RequireSameFileAtPath(const std::string& source, const WaveInfo& info) {
    const std::optional<FileIdentity> id = IdentityOf(source);
    if (!id) return;
    if (!IsRegularFile(source)) return;
    if (!MatchesAnalysis(*id, info)) throw VelmoraError(TextSourceChanged(source));
}

}  // namespace

void RequireAnalysed(const std::string& source, const WaveInfo& info) {
    if (!info.analysisComplete || source != info.analyzedPath) throw VelmoraError(kTextNotAnalysed);
    RequireSameFileAtPath(source, info);
}

void RequireRateRewritable(const std::string& source, const WaveInfo& info) {
    if (!(info.analysisComplete || info.rateRewriteOnly) || source != info.analyzedPath)
        throw VelmoraError(kTextNotAnalysed);
    RequireSameFileAtPath(source, info);
}

void RequireUnchanged(const File& source, const WaveInfo& info) {
    if (!MatchesAnalysis(source.identity(), info)) throw VelmoraError(TextSourceChanged(source.path()));
}

void ReadAsAnalysed(File& file, std::uint64_t offset, void* buf, std::size_t n) {
    if (file.readAt(offset, buf, n) != n) throw VelmoraError(TextSourceChanged(file.path()));
}

void CopyFormatAfterData(File& source, OutputFile& out, const WaveInfo& info) {
    if (info.formatAfterData == 0) return;
    std::vector<std::uint8_t> chunk(info.formatAfterData);
    ReadAsAnalysed(source, static_cast<std::uint64_t>(info.fmtChunkPos), chunk.data(), chunk.size());
    out.write(chunk.data(), chunk.size());
}

void RequireBytesAsAnalysed(File& file, std::uint64_t offset, const void* expected, std::size_t n) {
    std::vector<std::uint8_t> now(n);
    ReadAsAnalysed(file, offset, now.data(), n);
    if (n > 0 && std::memcmp(now.data(), expected, n) != 0) throw VelmoraError(TextSourceChanged(file.path()));
}

void RequireFieldInChunk(File& file, const char* id, std::uint64_t chunkAt, std::uint64_t fieldAt, std::size_t n,
                         const std::string& why) {
    std::uint8_t head[kChunkHeaderSize];
    if (file.readAt(chunkAt, head, sizeof head) != sizeof head || !MatchChunkId(head, id)) throw VelmoraError(why);
    const std::uint64_t end = chunkAt + kChunkHeaderSize + GetU32(head + 4);
    const std::uint64_t length = file.size();
    if (fieldAt < chunkAt || fieldAt + n > end || fieldAt + n > length) throw VelmoraError(why);
    std::uint8_t riff[kDs64At + kDs64ChunkSize] = {};
    const std::size_t got = file.readAt(0, riff, sizeof riff);
    const ChunkTable table = WalkChunks(file, kFirstChunkAt, length, {ReadDs64(riff, got), 0});
    for (const ChunkEntry& c : table.chunks)
        if (c.offset != chunkAt && c.wellFormed() && c.offset < fieldAt + n && fieldAt < c.end())
            throw VelmoraError(why);
}

void LockForPatch(File& file, const WaveInfo& info, bool lookTwice) {
    if (!file.tryLockExclusive()) throw VelmoraError(TextFileBusy(file.path()));
    if (const int pause = writerCheckPause.load(); lookTwice && pause > 0) {
        const FileIdentity first = file.identity();
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        // A writer that does not lock still moves the length or the time of
        // the last change.
        const FileIdentity second = file.identity();
        if (second.length != first.length || second.modifiedNs != first.modifiedNs)
            throw VelmoraError(TextFileBusy(file.path()));
    }
    RequireUnchanged(file, info);
}

File OpenForPatch(const std::string& path, const WaveInfo& info) {
    // Asked before this process opens the file for writing itself.
    const std::optional<bool> writing = writerLeases.load() ? OpenForWritingElsewhere(path) : std::nullopt;
    if (writing.value_or(false)) throw VelmoraError(TextFileBusy(path));
    File file = File::OpenReadWrite(path);
    LockForPatch(file, info, !writing.has_value());
    return file;
}

void UseWriterLeases(bool use) { writerLeases = use; }

void SetWriterCheckPause(int milliseconds) { writerCheckPause = milliseconds < 0 ? 0 : milliseconds; }

}  // namespace velmora
