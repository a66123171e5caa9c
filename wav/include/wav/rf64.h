// Files past 4 GiB. An RF64 file ("RF64" or "BW64" in place of "RIFF") keeps
// its true RIFF and data sizes in a "ds64" chunk right after "WAVE" and
// 0xFFFFFFFF in the 32-bit fields; the header writer switches to that form
// only when an output's RIFF size would not fit 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

// Whether a file starting with these 4 bytes is RF64: "RF64" or "BW64".
bool HasRf64Id(const std::uint8_t* head);

// The 64-bit sizes of a file whose first n bytes are head: present when its
// id is "RF64" or "BW64" and a ds64 chunk starts at offset 12.
std::optional<Ds64> ReadDs64(const std::uint8_t* head, std::size_t n);

}  // namespace velmora
