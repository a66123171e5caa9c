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
inline constexpr std::array<std::uint8_t, 14> kExtensibleTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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

// The usual layout of a channel count where the source has none: 2 → 0x3,
// 3 → 0x7, 4 → 0x33, 5 → 0x37, 6 → 0x3F, 7 → 0x70F, 8 → 0x63F, anything
// else 0 (docs/formats.md lists the speakers).
std::uint32_t DefaultChannelMask(int channels);

// Names of the set bits 0–17 of a mask, lowest bit first.
std::vector<std::string> SpeakerNamesOfMask(std::uint32_t mask);

// A chunk's id and 32-bit size, ahead of its body. The RIFF size counts all
// of a file but the RIFF chunk's own.
inline constexpr std::uint32_t kChunkHeaderSize = 8;

// The first chunk after "WAVE": the format chunk of the headers written
// here, the ds64 of an RF64 file.
inline constexpr std::uint32_t kFirstChunkAt = RiffHeader::kSize;
// Where a format chunk longer than 16 bytes goes on past the format block
// (cbSize first), when the format chunk comes first.
inline constexpr std::uint32_t kFormatExtensionAt = kFirstChunkAt + FormatBlock::kSize;

// Length of the plain header: RIFF header, 16-byte format chunk, data header.
inline constexpr std::uint32_t kPlainHeaderSize = 44;
inline constexpr std::uint32_t kPlainDataChunkAt = kPlainHeaderSize - DataHeader::kSize;
// The fields every format chunk holds: tag, channels, rate, byte rate,
// frame size and bits per sample.
inline constexpr std::uint32_t kFormatFieldsSize = FormatBlock::kSize - kChunkHeaderSize;
// The extensible format chunk's body: 16 bytes of fields, cbSize 22 and the
// 22 bytes it counts.
inline constexpr std::int32_t kExtensibleFormatSize = 40;

}  // namespace velmora
