// Files past 4 GiB. An RF64 file ("RF64" or "BW64" in place of "RIFF") keeps
// its true RIFF and data sizes in a "ds64" chunk right after "WAVE" and
// 0xFFFFFFFF in the 32-bit fields; the writers switch to that form only when
// an output's RIFF size would not fit 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "wav/records.h"

namespace velmora {

// "ds64" header and its 28-byte body: RIFF size, data size, sample count
// (64-bit each) and a table length of 0.
inline constexpr std::size_t kDs64ChunkSize = 36;
// File offsets in an RF64 header: the ds64 chunk right after "WAVE", its
// body's length, and its 64-bit sizes.
inline constexpr std::uint64_t kDs64At = kFirstChunkAt;
inline constexpr std::uint64_t kDs64BodySizeAt = kDs64At + 4;
inline constexpr std::uint64_t kDs64RiffSizeAt = kDs64At + 8;
inline constexpr std::uint64_t kDs64DataSizeAt = kDs64RiffSizeAt + 8;
inline constexpr std::uint64_t kDs64SampleCountAt = kDs64DataSizeAt + 8;

struct Ds64 {
    std::uint64_t riffSize = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t sampleCount = 0;
};

// The 64-bit sizes of a file whose first n bytes are head: present when its
// id is "RF64" or "BW64" and a ds64 chunk starts at offset 12.
std::optional<Ds64> ReadDs64(const std::uint8_t* head, std::size_t n);

// The header to write before dataSize bytes of samples and `trailing` bytes
// after them. `header` is a finished header in any form: a RIFF header, the
// chunks before the samples, the data chunk header last; one copied from an
// RF64 file still holds its ds64. While the RIFF size fits 32 bits, a RIFF
// header is returned unchanged and an RF64 one loses its ds64 and becomes
// plain RIFF; past that the result is RF64, ds64 after "WAVE" and 0xFFFFFFFF
// in both 32-bit size fields.
std::vector<std::uint8_t> SizedHeader(std::vector<std::uint8_t> header, std::uint64_t dataSize,
                                      std::uint64_t trailing = 0);

// The pad byte that follows odd data: 1 for an odd size, else 0.
constexpr std::uint64_t PadAfter(std::uint64_t dataSize) { return dataSize & 1; }

// The header of an output whose data chunk is all that follows it: dataSize
// bytes of samples and their pad byte. The 32-bit RIFF and data sizes are
// written from those two, whatever the builder put there; past 4 GiB the
// result is RF64 as SizedHeader makes it.
std::vector<std::uint8_t> OutputHeader(std::vector<std::uint8_t> header, std::uint64_t dataSize);

// Writes the pad byte odd data needs at the output's position, right after
// the last sample.
class OutputFile;
void WritePad(OutputFile& out, std::uint64_t dataSize);

// The RIFF size an output of that header, data and trailing bytes gets in
// whichever form SizedHeader picks.
std::uint64_t SizedRiffSize(std::size_t plainHeaderSize, std::uint64_t dataSize, std::uint64_t trailing = 0);

// Writes the RIFF and data sizes of an RF64 file in place: the ds64 fields
// in one write, the 32-bit fields left at 0xFFFFFFFF.
class File;
void PatchDs64Sizes(File& file, std::uint64_t riffSize, std::uint64_t dataSize);
// The RIFF size alone.
void PatchDs64RiffSize(File& file, std::uint64_t riffSize);

}  // namespace velmora
