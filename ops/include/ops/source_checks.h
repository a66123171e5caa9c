// Every operation goes through these checks: it acts only on the file that
// the last analysis described completely, and only while that file is still
// the one the analysis read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/file.h"
#include "wav/header.h"
#include "wav/waveinfo.h"

namespace velmora {

// Throws VelmoraError("解析済みのファイルではありません。ファイルを選び直してください。")
// unless source is the file of the last completed analysis, and
// TextSourceChanged when the file at that path is no longer the analysed one
// (another file put there, or its length changed).
void RequireAnalysed(const std::string& source, const WaveInfo& info);
// The same for the rate rewrite, which may also mend a file whose analysis
// stopped on a stored rate of 0.
void RequireRateRewritable(const std::string& source, const WaveInfo& info);

// The opened source is the analysed file (device, inode) at its analysed
// length; TextSourceChanged otherwise. Operations call it after opening and
// again before their outputs are named.
void RequireUnchanged(const File& source, const WaveInfo& info);

// Reads exactly n bytes at offset; fewer means the file lost them since it
// was analysed: TextSourceChanged. Never fills in what is missing.
void ReadAsAnalysed(File& file, std::uint64_t offset, void* buf, std::size_t n);

// The format chunk a source keeps behind its data (info.formatAfterData
// bytes, none for most files), for outputs that copy the source's header:
// written after the samples and their pad byte.
void CopyFormatAfterData(File& source, OutputFile& out, const WaveInfo& info);

// The n bytes at offset are still `expected` (what the analysis saw there);
// TextSourceChanged otherwise. For in-place patches, before they write.
void RequireBytesAsAnalysed(File& file, std::uint64_t offset, const void* expected, std::size_t n);

// For in-place patches, before they write: the n bytes at fieldAt lie inside
// the chunk `id` whose header is at chunkAt, as its own size declares it, and
// inside no other well-formed chunk of the file's chain. A patch thus never
// writes past the field it names, whatever the analysis made of the bytes.
// Throws VelmoraError(why) otherwise.
void RequireFieldInChunk(File& file, const char* id, std::uint64_t chunkAt, std::uint64_t fieldAt, std::size_t n,
                         const std::string& why);

// Whether [aFrom, aTo) and [bFrom, bTo) share a byte.
inline bool ChunksOverlap(std::uint64_t aFrom, std::uint64_t aTo, std::uint64_t bFrom, std::uint64_t bTo) {
    return aFrom < bTo && bFrom < aTo;
}

// One past the format chunk's bytes that the analysis reads as fields (the
// block and the extension, as far as the chunk declares them).
inline std::uint64_t FormatFieldsEnd(const WaveInfo& info) {
    const auto declared = static_cast<std::uint64_t>(static_cast<std::uint32_t>(info.format.fmtSize));
    return static_cast<std::uint64_t>(info.fmtChunkPos) + kChunkHeaderSize +
           std::min<std::uint64_t>(declared, kFormatFieldsSize + FormatExtension::kDecodedSize);
}

// For in-place patches, after opening the file for writing: takes an
// exclusive advisory lock for as long as the file stays open and refuses
// (TextFileBusy) a file that another process holds locked or, with
// lookTwice, that changes between two looks a moment apart (a writer still
// at work); then RequireUnchanged.
void LockForPatch(File& file, const WaveInfo& info, bool lookTwice = true);

// The file of an in-place patch, open for writing and locked: refused
// (TextFileBusy) while another process has it open for writing, where the
// system tells that at once; the two looks of LockForPatch only where it
// cannot.
File OpenForPatch(const std::string& path, const WaveInfo& info);

// The moment between the two looks, in milliseconds (150 unless set). The
// test harnesses, whose files have no other writer, set 0 to keep their
// thousands of patches fast.
void SetWriterCheckPause(int milliseconds);
// Whether OpenForPatch asks the system about writers (on unless set): the
// tests of the two looks turn it off, as on a file system without leases.
void UseWriterLeases(bool use);

}  // namespace velmora
