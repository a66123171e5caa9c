#include "wav/sample_format.h"

#include "wav/bytes.h"

namespace velmora {

bool IsIntegerPcm(const WaveInfo& w) {
    return w.format.formatTag == kFormatPcm || (w.format.formatTag == kFormatExtensible && w.subFormatTag == 1);
}

bool IsCompressedFormat(const WaveInfo& w) {
    const std::uint16_t tag = w.format.formatTag;
    if (tag == kFormatPcm || tag == kFormatFloat) return false;
    // An extensible header without its extension read names no sub-format.
    if (tag == kFormatExtensible)
        return !(w.subFormatTag == 0 || w.subFormatTag == kFormatPcm || w.subFormatTag == kFormatFloat);
    return true;
}

bool IsOneBytePerSample(const WaveInfo& w) {
    constexpr std::uint16_t kALaw = 6, kMuLaw = 7;
    const std::uint16_t tag = w.format.formatTag == kFormatExtensible ? w.subFormatTag : w.format.formatTag;
    return (tag == kALaw || tag == kMuLaw) && w.format.bitsPerSample == 8 &&
           w.format.blockAlign == w.format.channels;
}

std::optional<SampleFormat> TransformSampleFormat(std::uint16_t formatTag, std::uint16_t subFormatTag,
                                                  int channels, int blockAlign, int bitsPerSample) {
    const std::uint16_t tag = formatTag == kFormatExtensible ? subFormatTag : formatTag;
    const int bits = bitsPerSample;
    SampleFormat f;
    if (tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32))
        f = {SampleKind::Integer, bits / 8};
    else if (tag == kFormatFloat && (bits == 32 || bits == 64))
        f = {SampleKind::Float, bits / 8};
    else
        return std::nullopt;
    // A frame that is not one container per channel cannot be walked.
    if (channels < 1 || blockAlign != channels * f.bytes) return std::nullopt;
    return f;
}

std::optional<SampleFormat> TransformSampleFormat(const WaveInfo& info) {
    return TransformSampleFormat(info.format.formatTag, info.subFormatTag, info.format.channels, info.format.blockAlign,
                                 info.format.bitsPerSample);
}

std::vector<std::uint8_t> BuildPlainHeaderFor(const SampleFormat& format, RiffHeader riff, FormatBlock fmt,
                                              const DataHeader& data) {
    fmt.formatTag = format.plainTag();
    if (!format.isFloat()) {
        riff.riffSize = data.dataSize + RiffSizeOfHeader(kPlainHeaderSize);
        return BuildPlainHeader(riff, fmt, data);
    }
    std::vector<std::uint8_t> out(kPlainFloatHeaderSize);
    riff.riffSize = data.dataSize + RiffSizeOfHeader(kPlainFloatHeaderSize);
    fmt.fmtSize = 18;
    riff.Encode(out.data());
    fmt.Encode(out.data() + kFirstChunkAt);
    PutU16(out.data() + kFormatExtensionAt, 0);  // cbSize
    data.Encode(out.data() + kPlainFloatHeaderSize - DataHeader::kSize);
    return out;
}

std::vector<std::uint8_t> BuildExtensibleHeaderFor(const SampleFormat& format, const RiffHeader& riff,
                                                   const FormatBlock& fmt, std::uint16_t validBits,
                                                   std::uint32_t channelMask, const DataHeader& data,
                                                   bool withCue) {
    std::vector<std::uint8_t> out = BuildExtensibleHeader(riff, fmt, validBits, channelMask, data, withCue);
    // The sub-format GUIDs of integer PCM and float differ in their first
    // two bytes only.
    PutU16(out.data() + kExtensibleSubFormatAt, format.isFloat() ? kFormatFloat : kFormatPcm);
    return out;
}

}  // namespace velmora
