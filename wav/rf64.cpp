#include "wav/rf64.h"

#include <algorithm>
#include <cstring>

#include "wav/bytes.h"
#include "wav/file.h"

namespace velmora {

namespace {

std::uint64_t GetU64(const std::uint8_t* p) {
    return std::uint64_t{GetU32(p)} | (std::uint64_t{GetU32(p + 4)} << 32);
}
void PutU64(std::uint8_t* p, std::uint64_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
    PutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

bool IsId(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

bool HasDs64(const std::vector<std::uint8_t>& h) {
    return h.size() >= kDs64At + kDs64ChunkSize + kChunkHeaderSize &&
           (IsId(h.data(), "RF64") || IsId(h.data(), "BW64")) && IsId(h.data() + kDs64At, "ds64");
}

// Frame size from the first "fmt " in the header, for the sample count.
std::uint32_t BlockAlignOf(const std::vector<std::uint8_t>& h) {
    for (std::size_t p = kFirstChunkAt; p + FormatBlock::kSize <= h.size(); ++p)
        if (IsId(h.data() + p, "fmt ")) return GetU16(h.data() + p + 20);
    return 0;
}

}  // namespace

std::optional<Ds64> ReadDs64(const std::uint8_t* head, std::size_t n) {
    if (n < kDs64At + kDs64ChunkSize || !(IsId(head, "RF64") || IsId(head, "BW64")) ||
        !IsId(head + kDs64At, "ds64") || GetU32(head + kDs64BodySizeAt) < 24)
        return std::nullopt;
    return Ds64{GetU64(head + kDs64RiffSizeAt), GetU64(head + kDs64DataSizeAt), GetU64(head + kDs64SampleCountAt)};
}

std::uint64_t SizedRiffSize(std::size_t plainHeaderSize, std::uint64_t dataSize, std::uint64_t trailing) {
    const std::uint64_t riff = plainHeaderSize + dataSize + trailing - kChunkHeaderSize;
    return riff > 0xFFFFFFFFull ? riff + kDs64ChunkSize : riff;
}

std::vector<std::uint8_t> SizedHeader(std::vector<std::uint8_t> header, std::uint64_t dataSize,
                                      std::uint64_t trailing) {
    if (HasDs64(header)) {
        const std::size_t body = GetU32(header.data() + kDs64BodySizeAt);
        const std::size_t drop = std::min<std::size_t>(header.size() - kDs64At - DataHeader::kSize,
                                                    kChunkHeaderSize + body + (body & 1));
        header.erase(header.begin() + kDs64At, header.begin() + kDs64At + static_cast<std::ptrdiff_t>(drop));
        std::memcpy(header.data(), "RIFF", 4);
        const std::uint64_t riff = header.size() + dataSize + trailing - kChunkHeaderSize;
        PutU32(header.data() + 4, static_cast<std::uint32_t>(riff));
        PutU32(header.data() + header.size() - 4, static_cast<std::uint32_t>(dataSize));
    }
    const std::uint64_t riff = SizedRiffSize(header.size(), dataSize, trailing);
    if (riff <= 0xFFFFFFFFull) {
        // Built from an RF64 source's images: a small output is plain RIFF.
        if (header.size() >= 4 && (IsId(header.data(), "RF64") || IsId(header.data(), "BW64")))
            std::memcpy(header.data(), "RIFF", 4);
        return header;
    }

    std::uint8_t ds64[kDs64ChunkSize] = {'d', 's', '6', '4'};
    PutU32(ds64 + 4, kDs64ChunkSize - kChunkHeaderSize);
    PutU64(ds64 + 8, riff);
    PutU64(ds64 + 16, dataSize);
    const std::uint32_t frame = BlockAlignOf(header);
    PutU64(ds64 + 24, frame ? dataSize / frame : 0);
    PutU32(ds64 + 32, 0);  // no table of further chunk sizes
    header.insert(header.begin() + kDs64At, ds64, ds64 + kDs64ChunkSize);
    std::memcpy(header.data(), "RF64", 4);
    PutU32(header.data() + 4, 0xFFFFFFFFu);
    PutU32(header.data() + header.size() - 4, 0xFFFFFFFFu);
    return header;
}

std::vector<std::uint8_t> OutputHeader(std::vector<std::uint8_t> header, std::uint64_t dataSize) {
    const std::uint64_t pad = PadAfter(dataSize);
    if (header.size() >= kPlainHeaderSize && IsId(header.data(), "RIFF")) {
        const std::uint64_t riff = header.size() + dataSize + pad - kChunkHeaderSize;
        if (riff <= 0xFFFFFFFFull) {
            PutU32(header.data() + 4, static_cast<std::uint32_t>(riff));
            PutU32(header.data() + header.size() - 4, static_cast<std::uint32_t>(dataSize));
        }
    }
    return SizedHeader(std::move(header), dataSize, pad);
}

void WritePad(OutputFile& out, std::uint64_t dataSize) {
    if (PadAfter(dataSize) == 0) return;
    const std::uint8_t zero = 0;
    out.write(&zero, 1);
}

void PatchDs64Sizes(File& file, std::uint64_t riffSize, std::uint64_t dataSize) {
    std::uint8_t fields[16];
    PutU64(fields, riffSize);
    PutU64(fields + 8, dataSize);
    PatchInPlace(file, kDs64RiffSizeAt, fields, sizeof fields);
}

void PatchDs64RiffSize(File& file, std::uint64_t riffSize) {
    std::uint8_t field[8];
    PutU64(field, riffSize);
    PatchInPlace(file, kDs64RiffSizeAt, field, sizeof field);
}

}  // namespace velmora
