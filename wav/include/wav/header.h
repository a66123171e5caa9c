// The one header writer: every output's header is described here and turned
// into bytes by EncodeHeader, which alone derives the RIFF size, the data
// size, the pad byte's share and the RF64 form past 4 GiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "io/patch.h"
#include "wav/records.h"

namespace velmora {

class File;

// What follows the format block in an extensible format chunk: cbSize 22,
// the valid bits, the speaker mask and the sub-format GUID, whose first two
// bytes are the sub-format tag and whose rest is fixed.
struct FormatExtension {
    static constexpr std::size_t kSize = 24;
    // Decode reads cbSize through the sub-format tag.
    static constexpr std::size_t kDecodedSize = 10;
    std::uint16_t validBits = 0;
    std::uint32_t channelMask = 0;
    std::uint16_t subFormat = kFormatPcm;

    void Encode(std::uint8_t* out) const;
    static FormatExtension Decode(const std::uint8_t* in);
};

// An output's header. The sizes in riff, format and data are never used:
// EncodeHeader writes them from the form and dataSize.
struct HeaderDescription {
    // The ids; the source's, where the output stands for it.
    RiffHeader riff{MakeFourCC("RIFF"), 0, MakeFourCC("WAVE")};
    FormatBlock format;
    DataHeader data{MakeFourCC("data"), 0};
    // The extensible form: tag 0xFFFE, a 40-byte format chunk.
    std::optional<FormatExtension> extension;
    // In the plain form, an 18-byte format chunk ending in cbSize 0, as
    // readers expect of any format but integer PCM.
    bool cbSize = false;
    // The empty cue block between the format chunk and the data chunk.
    bool cue = false;
    // A source's own header, its chunks through the data chunk header, kept
    // as it is but for its sizes. When set, of the fields above only the
    // format's frame size is used (the ds64 sample count past 4 GiB): the
    // analysed one, whatever bytes in the header may look like a format.
    std::vector<std::uint8_t> copied;
    // The samples that follow; a pad byte follows odd data.
    std::uint64_t dataSize = 0;
    // Bytes of chunks the output writes after the samples and their pad byte
    // (a format chunk the source keeps behind its data).
    std::uint64_t trailing = 0;
};

// The bytes of the header. The RIFF size counts the header, the samples and
// the pad byte of odd data. Past 32 bits the header is RF64: a ds64 chunk
// after "WAVE" holds the sizes and both 32-bit fields are 0xFFFFFFFF; a
// copied RF64 header whose output fits becomes plain RIFF.
std::vector<std::uint8_t> EncodeHeader(const HeaderDescription& header);

// The size rules every size field follows, the header writer's and the
// repairs' alike.
// The RIFF size of a whole file: everything after the RIFF size field.
constexpr std::uint64_t RiffSizeOfFile(std::uint64_t fileLength) { return fileLength - 8; }
// Where a chunk's body starts: after its id and its size.
constexpr std::uint64_t ChunkBodyAt(std::uint64_t chunkAt) { return chunkAt + 8; }

// The size fields a repair rewrites in place, each when set.
struct SizeFields {
    std::optional<std::uint64_t> riffSize;
    std::optional<std::uint64_t> dataSize;
    // The ds64 sample count, beside the sizes of an RF64 file.
    std::optional<std::uint64_t> sampleCount;
};
// Where the file keeps its sizes: an RF64 file in its ds64 chunk, unless its
// 32-bit RIFF field holds the size itself (riffField32 is not 0xFFFFFFFF and
// the size fits).
struct SizeLayout {
    bool rf64 = false;
    std::uint32_t riffField32 = 0;  // the 32-bit RIFF field as the file has it
    std::uint64_t dataChunkAt = 0;  // the data chunk's header
};
// Whether the RIFF size goes to the ds64 chunk.
bool RiffSizeInDs64(const SizeLayout& layout, std::uint64_t riffSize);
// The bytes each size goes to: 64-bit ds64 fields, or the 32-bit fields (a
// RIFF size past 4 GiB modulo 2^32).
std::vector<FieldPatch> SizeFieldPatches(const SizeFields& sizes, const SizeLayout& layout);
// Writes them, all or none: fields in one block in one write, else through
// the undo record of the file layer.
void PatchSizeFields(File& file, const SizeFields& sizes, const SizeLayout& layout);

// The pad byte that follows odd data: 1 for an odd size, else 0.
constexpr std::uint64_t PadAfter(std::uint64_t dataSize) { return dataSize & 1; }

// Writes the pad byte odd data needs at the output's position, right after
// the last sample.
class OutputFile;
void WritePad(OutputFile& out, std::uint64_t dataSize);

}  // namespace velmora
