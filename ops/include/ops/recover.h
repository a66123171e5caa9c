// Recovery of an unfinalized recording: a recorder that lost power leaves a
// data chunk that declares 0, 0xFFFFFFFF or more bytes than follow it, and a
// RIFF size to match. The recovery patches both in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/file.h"
#include "ops/host.h"
#include "wav/chunks.h"
#include "wav/waveinfo.h"

namespace velmora {

inline constexpr const char* kTextDataSizeHealthy =
    "データサイズは正常です。修復の必要はありません(ファイルは変更していません)";

// A recording whose frames shift part-way (a byte lost or added), from the
// byte given on: patching its sizes would leave the rest playing as noise.
// "%s バイト目からデータの読み位置がずれています(…)"
std::string TextDataShifted(const std::string& offset);

struct RecoverOptions {
    std::string source;  // the analysed file; empty does nothing
};

struct SizeRepair {
    std::uint64_t riffSize = 0;
    std::uint64_t dataSize = 0;
};

// The sizes a recording needs, or nullopt when the data chunk at
// dataChunkPos is no chunk of the table whose size the walk could not trust
// (0, 0xFFFFFFFF, or more than follows), or when the sizes already are these.
// The data runs in whole frames up to the chain of chunks that ends the file,
// or to the end of the file. An RF64 file (rf64) declares its sizes in 64
// bits and may pass 4 GiB.
std::optional<SizeRepair> PlanSizeRepair(const ChunkTable& table, std::uint64_t dataChunkPos,
                                         std::uint64_t declaredDataSize, std::uint64_t riffSize,
                                         std::uint32_t blockAlign, bool rf64 = false);

// The sizes RecoverDataSize would write into the analysed file, open in
// `file`, or nullopt when it needs none. Throws when the file is no longer
// the one analysed.
std::optional<SizeRepair> PlanRecovery(File& file, const WaveInfo& info);

// Byte offsets where the frames of the first dataSize bytes of the analysed
// file's data shift away from its header's alignment; none for layouts the
// scan cannot read (compressed, more than 8 channels, frames of 5 or 7
// channels).
std::vector<std::uint64_t> ShiftsInData(File& file, const WaveInfo& info, std::uint64_t dataSize);

// Patches riffSize (bytes 4–7) and dataSize (dataChunkPos + 4 … + 7) of the
// analysed file, or the ds64 sizes of an RF64 file, nothing else, and updates them in info. A file that needs
// nothing gets kTextDataSizeHealthy as a message, stays untouched, and no
// path is returned. A file whose frames shift part-way is refused
// (TextDataShifted with the first offset) and stays untouched. Throws
// VelmoraError on every failure.
std::vector<std::string> RecoverDataSize(WaveInfo& info, const RecoverOptions& options, Host& host);

}  // namespace velmora
