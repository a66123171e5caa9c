#include "wav/records.h"

#include <algorithm>
#include <cstring>

#include "wav/bytes.h"

namespace velmora {

FourCC MakeFourCC(std::string_view id) {
    FourCC out{};
    for (std::size_t i = 0; i < 4 && i < id.size(); ++i) out[i] = id[i];
    return out;
}

std::string FourCCToString(const FourCC& id) { return std::string(id.data(), id.size()); }

static void PutId(std::uint8_t* p, const FourCC& id) { std::memcpy(p, id.data(), 4); }
static FourCC GetId(const std::uint8_t* p) {
    FourCC id;
    std::memcpy(id.data(), p, 4);
    return id;
}

void RiffHeader::Encode(std::uint8_t* out) const {
    PutId(out, riffId);
    PutU32(out + 4, riffSize);
    PutId(out + 8, waveId);
}

RiffHeader RiffHeader::Decode(const std::uint8_t* in) {
    RiffHeader h;
    h.riffId = GetId(in);
    h.riffSize = GetU32(in + 4);
    h.waveId = GetId(in + 8);
    return h;
}

void FormatBlock::Encode(std::uint8_t* out) const {
    PutId(out, fmtId);
    PutU32(out + 4, static_cast<std::uint32_t>(fmtSize));
    PutU16(out + 8, formatTag);
    PutU16(out + 10, static_cast<std::uint16_t>(channels));
    PutU32(out + 12, static_cast<std::uint32_t>(samplesPerSec));
    PutU32(out + 16, static_cast<std::uint32_t>(avgBytesPerSec));
    PutU16(out + 20, static_cast<std::uint16_t>(blockAlign));
    PutU16(out + 22, static_cast<std::uint16_t>(bitsPerSample));
}

FormatBlock FormatBlock::Decode(const std::uint8_t* in) {
    FormatBlock f;
    f.fmtId = GetId(in);
    f.fmtSize = GetI32(in + 4);
    f.formatTag = GetU16(in + 8);
    f.channels = GetI16(in + 10);
    f.samplesPerSec = GetI32(in + 12);
    f.avgBytesPerSec = GetI32(in + 16);
    f.blockAlign = GetI16(in + 20);
    f.bitsPerSample = GetI16(in + 22);
    return f;
}

void DataHeader::Encode(std::uint8_t* out) const {
    PutId(out, dataId);
    PutU32(out + 4, dataSize);
}

DataHeader DataHeader::Decode(const std::uint8_t* in) {
    DataHeader d;
    d.dataId = GetId(in);
    d.dataSize = GetU32(in + 4);
    return d;
}

std::array<std::uint8_t, kCueBlockSize> CueBlock() {
    std::array<std::uint8_t, kCueBlockSize> b{};
    std::memcpy(b.data(), "cue ", 4);
    PutU32(b.data() + 4, 52);
    return b;
}

const std::array<const char*, kSpeakerNameCount> SpeakerNames = {
    "Left",        "Right",      "Center",           "LFE",
    "S-Left",      "S-Right",    "F-Left of Center", "F-Right of Center",
    "Back-Center", "Side Left",  "Side Right",       "Top-Center",
    "Top-F-Left",  "T-F-Center", "T-F-Right",        "T-B-Left",
    "T-B-Center",  "T-B-Right"};

std::uint32_t DefaultChannelMask(int channels) {
    switch (channels) {
        case 2: return 0x3;
        case 3: return 0x7;
        case 4: return 0x33;
        case 5: return 0x37;
        case 6: return 0x3F;
        case 7: return 0x70F;
        case 8: return 0x63F;
        default: return 0;
    }
}

std::vector<std::string> SpeakerNamesOfMask(std::uint32_t mask) {
    std::vector<std::string> names;
    for (std::size_t bit = 0; bit < SpeakerNames.size(); ++bit)
        if (mask & (1u << bit)) names.emplace_back(SpeakerNames[bit]);
    return names;
}

}  // namespace velmora
