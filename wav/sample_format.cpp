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
    return (tag == kALaw || tag == kMuLaw) && w.format.bitsPerSample == 8 && w.format.blockAlign == w.format.channels;
}

std::optional<SampleFormat> TransformSampleFormat(std::uint16_t formatTag, std::uint16_t subFormatTag, int channels,
                                                  int blockAlign, int bitsPerSample) {
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

HeaderDescription DescriptionOf(const WaveInfo& info, std::uint64_t dataSize) {
    HeaderDescription h;
    h.riff = info.riffHeader();
    h.format = info.format;
    h.data = info.dataHeader();
    h.dataSize = dataSize;
    return h;
}

void UsePlainForm(HeaderDescription& header, const SampleFormat& format) {
    header.format.formatTag = format.plainTag();
    header.cbSize = format.isFloat();
}

FormatExtension ExtensionFor(const SampleFormat& format, std::uint16_t validBits, std::uint32_t channelMask) {
    return {validBits, channelMask, format.isFloat() ? kFormatFloat : kFormatPcm};
}

}  // namespace velmora
