// On-disk records of the RIFF/WAVE subset Velmora reads and writes, the
// constant blocks writers copy, the speaker names and the header writers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

using FourCC = std::array<char, 4>;

FourCC MakeFourCC(std::string_view id);
std::string FourCCToString(const FourCC& id);

struct RiffHeader {
    static constexpr std::size_t kSize = 12;
    FourCC riffId{};
    std::uint32_t riffSize = 0;
    FourCC waveId{};

    void Encode(std::uint8_t* out) const;
    static RiffHeader Decode(const std::uint8_t* in);
};

struct FormatBlock {
    static constexpr std::size_t kSize = 24;
    FourCC fmtId{};
    std::int32_t fmtSize = 0;
    std::uint16_t formatTag = 0;
    std::int16_t channels = 0;
    std::int32_t samplesPerSec = 0;
    std::int32_t avgBytesPerSec = 0;
    std::int16_t blockAlign = 0;
    std::int16_t bitsPerSample = 0;

    void Encode(std::uint8_t* out) const;
    static FormatBlock Decode(const std::uint8_t* in);
};

struct DataHeader {
    static constexpr std::size_t kSize = 8;
    FourCC dataId{};
    std::uint32_t dataSize = 0;

    void Encode(std::uint8_t* out) const;
    static DataHeader Decode(const std::uint8_t* in);
};

inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// Completes the PCM sub-format GUID after the 16-bit sub-format tag 1.
inline constexpr std::array<std::uint8_t, 14> kExtensibleTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// "cue " chunk with size 52 and 52 zero bytes; no cue point is ever filled in.
inline constexpr std::size_t kCueBlockSize = 60;
std::array<std::uint8_t, kCueBlockSize> CueBlock();

inline constexpr int kSpeakerNameCount = 18;
extern const std::array<const char*, kSpeakerNameCount> SpeakerNames;

// avgBytesPerSec for a rate and frame size: the low 32 bits of the product.
inline std::int32_t ByteRate(std::int32_t samplesPerSec, std::int16_t blockAlign) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(samplesPerSec) *
                                     static_cast<std::uint32_t>(std::int32_t{blockAlign}));
}

// Default mask for a channel count where the source has none: 2 → 0x3,
// 4 → 0x33, 6 → 0x3F, anything else 0.
std::uint32_t DefaultChannelMask(int channels);

// Names of the set bits 0–17 of a mask, lowest bit first.
std::vector<std::string> SpeakerNamesOfMask(std::uint32_t mask);

enum class HeaderForm { Plain, Extensible, ExtensibleWithCue, Copied };

// A chunk's id and 32-bit size, ahead of its body. The RIFF size counts all
// of a file but the RIFF chunk's own.
inline constexpr std::uint32_t kChunkHeaderSize = 8;
// What a RIFF size counts of a header that ends in the data chunk header.
constexpr std::uint32_t RiffSizeOfHeader(std::uint32_t headerSize) { return headerSize - kChunkHeaderSize; }

// The first chunk after "WAVE": the format chunk of the headers written
// here, the ds64 of an RF64 file.
inline constexpr std::uint32_t kFirstChunkAt = RiffHeader::kSize;
// Where a format chunk longer than 16 bytes goes on past the format block
// (cbSize first), when the format chunk comes first.
inline constexpr std::uint32_t kFormatExtensionAt = kFirstChunkAt + FormatBlock::kSize;

// Length of the plain header: RIFF header, 16-byte format chunk, data header.
inline constexpr std::uint32_t kPlainHeaderSize = 44;
inline constexpr std::uint32_t kPlainDataChunkAt = kPlainHeaderSize - DataHeader::kSize;
// The extensible header: a 40-byte format chunk (cbSize 22), then the data
// chunk header, or the cue block and then the data chunk header.
inline constexpr std::int32_t kExtensibleFormatSize = 40;
inline constexpr std::uint32_t kExtensibleHeaderSize = 68;
inline constexpr std::uint32_t kExtensibleCueHeaderSize = kExtensibleHeaderSize + kCueBlockSize;
// The sub-format tag, the first two bytes of the sub-format GUID.
inline constexpr std::uint32_t kExtensibleSubFormatAt = kFormatExtensionAt + 8;
// Plain form, 44 bytes: RIFF header, format block with fmtSize 16, data header.
// Every other field is written as the caller set it.
std::vector<std::uint8_t> BuildPlainHeader(const RiffHeader& riff, FormatBlock fmt,
                                           const DataHeader& data);

// Extensible form, 68 bytes, or 128 with the cue block between the format
// chunk and the data chunk header. fmtSize 40, formatTag 0xFFFE, cbSize 22,
// subFormatTag 1 and the tail block are fixed; the rest is the caller's.
std::vector<std::uint8_t> BuildExtensibleHeader(const RiffHeader& riff, FormatBlock fmt,
                                                std::uint16_t validBits, std::uint32_t channelMask,
                                                const DataHeader& data, bool withCue);

// Copied form: the source's first dataChunkPos + 8 bytes with single 32-bit
// fields patched at the given offsets.
struct HeaderPatch {
    std::size_t offset;
    std::uint32_t value;
};
std::vector<std::uint8_t> BuildCopiedHeader(std::vector<std::uint8_t> sourceHeader,
                                            const std::vector<HeaderPatch>& patches);

}  // namespace velmora
