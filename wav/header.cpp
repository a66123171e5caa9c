#include "wav/header.h"

#include <algorithm>
#include <cstring>

#include "io/file.h"
#include "wav/bytes.h"
#include "wav/rf64.h"

namespace velmora {

namespace {

constexpr std::uint16_t kExtensionCbSize = 22;

// The header's own chunks in their 32-bit form, sizes still unset.
std::vector<std::uint8_t> Chunks(const HeaderDescription& h) {
    if (!h.copied.empty()) return h.copied;
    FormatBlock fmt = h.format;
    const std::size_t fmtBody = h.extension ? kExtensibleFormatSize : h.cbSize ? 18 : 16;
    const std::size_t cue = h.cue ? kCueBlockSize : 0;
    std::vector<std::uint8_t> out(RiffHeader::kSize + kChunkHeaderSize + fmtBody + cue + DataHeader::kSize);
    fmt.fmtSize = static_cast<std::int32_t>(fmtBody);
    if (h.extension) fmt.formatTag = kFormatExtensible;
    h.riff.Encode(out.data());
    fmt.Encode(out.data() + kFirstChunkAt);
    if (h.extension) h.extension->Encode(out.data() + kFormatExtensionAt);
    // cbSize 0 is already there.
    if (h.cue) {
        const auto block = CueBlock();
        std::copy(block.begin(), block.end(), out.end() - DataHeader::kSize - kCueBlockSize);
    }
    h.data.Encode(out.data() + out.size() - DataHeader::kSize);
    return out;
}

// A copied RF64 header without its ds64 chunk, so that it can be sized like
// any other.
void DropDs64(std::vector<std::uint8_t>& header) {
    if (header.size() < kDs64At + kDs64ChunkSize + kChunkHeaderSize || !HasRf64Id(header.data()) ||
        !MatchChunkId(header.data() + kDs64At, "ds64"))
        return;
    const std::size_t body = GetU32(header.data() + kDs64BodySizeAt);
    const std::size_t drop =
        std::min<std::size_t>(header.size() - kDs64At - DataHeader::kSize, kChunkHeaderSize + body + (body & 1));
    header.erase(header.begin() + kDs64At, header.begin() + kDs64At + static_cast<std::ptrdiff_t>(drop));
}

// What a RIFF size counts: all of the file but its first chunk header, the
// pad byte of odd data included.
std::uint64_t HeaderRiffSize(const HeaderDescription& h, std::size_t headerSize) {
    return headerSize + h.dataSize + PadAfter(h.dataSize) + h.trailing - kChunkHeaderSize;
}

}  // namespace

void FormatExtension::Encode(std::uint8_t* out) const {
    PutU16(out, kExtensionCbSize);
    PutU16(out + 2, validBits);
    PutU32(out + 4, channelMask);
    PutU16(out + 8, subFormat);
    std::copy(kExtensibleTail.begin(), kExtensibleTail.end(), out + 10);
}

FormatExtension FormatExtension::Decode(const std::uint8_t* in) {
    return {GetU16(in + 2), GetU32(in + 4), GetU16(in + 8)};
}

std::vector<std::uint8_t> EncodeHeader(const HeaderDescription& h) {
    std::vector<std::uint8_t> header = Chunks(h);
    DropDs64(header);
    const std::uint64_t riff = HeaderRiffSize(h, header.size());
    if (riff <= 0xFFFFFFFFull) {
        // A copied RF64 header whose output fits is plain RIFF.
        if (HasRf64Id(header.data())) std::memcpy(header.data(), "RIFF", 4);
        PutU32(header.data() + 4, static_cast<std::uint32_t>(riff));
        PutU32(header.data() + header.size() - 4, static_cast<std::uint32_t>(h.dataSize));
        return header;
    }

    std::uint8_t ds64[kDs64ChunkSize] = {'d', 's', '6', '4'};
    PutU32(ds64 + 4, kDs64ChunkSize - kChunkHeaderSize);
    PutU64(ds64 + 8, riff + kDs64ChunkSize);
    PutU64(ds64 + 16, h.dataSize);
    const std::uint32_t frame = static_cast<std::uint16_t>(h.format.blockAlign);
    PutU64(ds64 + 24, frame ? h.dataSize / frame : 0);
    PutU32(ds64 + 32, 0);  // no table of further chunk sizes
    header.insert(header.begin() + kDs64At, ds64, ds64 + kDs64ChunkSize);
    std::memcpy(header.data(), "RF64", 4);
    PutU32(header.data() + 4, 0xFFFFFFFFu);
    PutU32(header.data() + header.size() - 4, 0xFFFFFFFFu);
    return header;
}

void WritePad(OutputFile& out, std::uint64_t dataSize) {
    if (PadAfter(dataSize) == 0) return;
    const std::uint8_t zero = 0;
    out.write(&zero, 1);
}

bool RiffSizeInDs64(const SizeLayout& layout, std::uint64_t riffSize) {
    return layout.rf64 && (layout.riffField32 == 0xFFFFFFFFu || riffSize > 0xFFFFFFFFull);
}

std::vector<FieldPatch> SizeFieldPatches(const SizeFields& sizes, const SizeLayout& layout) {
    std::vector<FieldPatch> fields;
    const auto put = [&fields](std::uint64_t at, std::uint64_t value, std::size_t width) {
        fields.push_back({at, std::vector<std::uint8_t>(width)});
        if (width == 8)
            PutU64(fields.back().bytes.data(), value);
        else
            PutU32(fields.back().bytes.data(), static_cast<std::uint32_t>(value));
    };
    if (layout.rf64 && sizes.dataSize && sizes.riffSize) {
        // The ds64 sizes and the sample count sit side by side: one field,
        // one write.
        fields.push_back({kDs64RiffSizeAt, std::vector<std::uint8_t>(sizes.sampleCount ? 24 : 16)});
        PutU64(fields.back().bytes.data(), *sizes.riffSize);
        PutU64(fields.back().bytes.data() + 8, *sizes.dataSize);
        if (sizes.sampleCount) PutU64(fields.back().bytes.data() + 16, *sizes.sampleCount);
        return fields;
    }
    if (sizes.dataSize) {
        if (layout.rf64)
            put(kDs64DataSizeAt, *sizes.dataSize, 8);
        else
            put(ChunkBodyAt(layout.dataChunkAt) - 4, *sizes.dataSize, 4);
    }
    if (sizes.riffSize) {
        if (RiffSizeInDs64(layout, *sizes.riffSize))
            put(kDs64RiffSizeAt, *sizes.riffSize, 8);
        else
            put(4, *sizes.riffSize, 4);  // past 4 GiB, modulo 2^32
    }
    return fields;
}

void PatchSizeFields(File& file, const SizeFields& sizes, const SizeLayout& layout) {
    PatchFields(file, SizeFieldPatches(sizes, layout));
}

}  // namespace velmora
