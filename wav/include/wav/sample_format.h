// What the sample transforms know about a file's samples: integer PCM of 8,
// 16, 24 or 32 bits or IEEE float of 32 or 64 bits, in the plain layout
// (tag 1 or 3) or the extensible one (sub-format 1 or 3), with frames of
// exactly one container per channel.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "wav/header.h"
#include "wav/waveinfo.h"

namespace velmora {

inline constexpr std::uint16_t kFormatFloat = 3;

enum class SampleKind { Integer, Float };

struct SampleFormat {
    SampleKind kind = SampleKind::Integer;
    int bytes = 2;  // container bytes of one sample

    bool isFloat() const { return kind == SampleKind::Float; }
    // Beyond the 8- and 16-bit integer samples the original loops handle.
    bool wide() const { return isFloat() || bytes > 2; }
    // The plain format tag for this kind: 1 or 3.
    std::uint16_t plainTag() const { return isFloat() ? kFormatFloat : std::uint16_t{1}; }
    bool operator==(const SampleFormat&) const = default;
};

// Integer PCM in the plain or the extensible layout; anything else is a
// compressed or foreign format whose header the operations cannot trust.
bool IsIntegerPcm(const WaveInfo& info);

// Anything but integer PCM and IEEE float, in either layout (a-law, ADPCM,
// GSM…): its blocks are no frames of samples the operations could move.
bool IsCompressedFormat(const WaveInfo& info);
// A-law and µ-law: compressed, yet one byte per sample, so the frame count
// still follows from the data size.
bool IsOneBytePerSample(const WaveInfo& info);

// The sample format of the analysed file, or nullopt for anything the
// transforms cannot read sample by sample.
std::optional<SampleFormat> TransformSampleFormat(const WaveInfo& info);
// The same from the header fields alone (subFormatTag 0 when the extension
// was not read).
std::optional<SampleFormat> TransformSampleFormat(std::uint16_t formatTag, std::uint16_t subFormatTag, int channels,
                                                  int blockAlign, int bitsPerSample);

// An output that stands for the analysed file: its ids and format record,
// dataSize bytes of samples.
HeaderDescription DescriptionOf(const WaveInfo& info, std::uint64_t dataSize);

// The plain form of an output in this sample format: integers tag 1 in a
// 16-byte format chunk; float tag 3 with cbSize 0, the form readers expect of
// a format other than integer PCM.
void UsePlainForm(HeaderDescription& header, const SampleFormat& format);

// The extension of the extensible form, sub-format 1 for integers, 3 for
// float.
FormatExtension ExtensionFor(const SampleFormat& format, std::uint16_t validBits, std::uint32_t channelMask);

}  // namespace velmora
