#include <gtest/gtest.h>

#include <utility>

#include "wav/bytes.h"
#include "wav/header.h"
#include "wav/records.h"
#include "wav_builder.h"

using namespace velmora;
using velmora::test::Bytes;
using velmora::test::ReadU16;
using velmora::test::ReadU32;

namespace {

RiffHeader SampleRiff() { return {MakeFourCC("RIFF"), 0x11223344, MakeFourCC("WAVE")}; }
FormatBlock SampleFormat() { return {MakeFourCC("fmt "), 18, 1, 2, 44100, 176400, 4, 16}; }
DataHeader SampleData() { return {MakeFourCC("data"), 1000}; }
HeaderDescription SampleHeader() {
    HeaderDescription d;
    d.riff = SampleRiff();
    d.format = SampleFormat();
    d.data = SampleData();
    d.dataSize = 1000;
    return d;
}
Bytes Extensible(bool cue) {
    HeaderDescription d = SampleHeader();
    d.extension = FormatExtension{16, 0x33, kFormatPcm};
    d.cue = cue;
    return EncodeHeader(d);
}

}  // namespace

TEST(Records, UnitsRoundTripLittleEndian) {
    std::uint8_t buf[24] = {};
    SampleRiff().Encode(buf);
    EXPECT_EQ(0, std::memcmp(buf, "RIFF\x44\x33\x22\x11WAVE", 12));
    RiffHeader r = RiffHeader::Decode(buf);
    EXPECT_EQ(r.riffSize, 0x11223344u);
    EXPECT_EQ(FourCCToString(r.waveId), "WAVE");

    FormatBlock f = SampleFormat();
    f.formatTag = 0xFFFE;
    f.channels = -2;
    f.blockAlign = -32768;
    f.Encode(buf);
    EXPECT_EQ(buf[8], 0xFE);
    EXPECT_EQ(buf[9], 0xFF);
    FormatBlock g = FormatBlock::Decode(buf);
    EXPECT_EQ(g.formatTag, 0xFFFE);
    EXPECT_EQ(g.channels, -2);
    EXPECT_EQ(g.blockAlign, -32768);
    EXPECT_EQ(g.samplesPerSec, 44100);
    EXPECT_EQ(g.fmtSize, 18);
}

TEST(Records, PlainHeaderIs44BytesWithFmtSize16) {
    Bytes h = EncodeHeader(SampleHeader());
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(ReadU32(h, 16), 16u);  // forced, although the image said 18
    EXPECT_EQ(ReadU16(h, 22), 2u);
    EXPECT_EQ(0, std::memcmp(h.data() + 36, "data", 4));
    EXPECT_EQ(ReadU32(h, 40), 1000u);
    EXPECT_EQ(ReadU32(h, 4), 1036u);  // the sizes come from the form, not the records
    HeaderDescription odd = SampleHeader();
    odd.dataSize = 1001;
    odd.cbSize = true;  // an 18-byte format chunk
    h = EncodeHeader(odd);
    ASSERT_EQ(h.size(), 46u);
    EXPECT_EQ(ReadU32(h, 16), 18u);
    EXPECT_EQ(ReadU16(h, 36), 0u);
    EXPECT_EQ(ReadU32(h, 4), 46u + 1001 + 1 - 8);  // the pad byte counts
    EXPECT_EQ(ReadU32(h, 42), 1001u);
}

TEST(Records, ExtensibleHeaderWithAndWithoutCue) {
    Bytes h = Extensible(false);
    ASSERT_EQ(h.size(), 68u);
    EXPECT_EQ(ReadU32(h, 16), 40u);
    EXPECT_EQ(ReadU16(h, 20), 0xFFFEu);
    EXPECT_EQ(ReadU16(h, 36), 22u);
    EXPECT_EQ(ReadU16(h, 38), 16u);
    EXPECT_EQ(ReadU32(h, 40), 0x33u);
    const std::uint8_t guid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_EQ(0, std::memcmp(h.data() + 44, guid, 16));
    EXPECT_EQ(0, std::memcmp(h.data() + 60, "data", 4));

    Bytes c = Extensible(true);
    ASSERT_EQ(c.size(), 128u);
    EXPECT_EQ(0, std::memcmp(c.data() + 8, h.data() + 8, 52));
    EXPECT_EQ(ReadU32(h, 4), 68u + 1000 - 8);
    EXPECT_EQ(ReadU32(c, 4), 128u + 1000 - 8);
    EXPECT_EQ(0, std::memcmp(c.data() + 60, "cue ", 4));
    EXPECT_EQ(ReadU32(c, 64), 52u);
    for (std::size_t i = 68; i < 120; ++i) EXPECT_EQ(c[i], 0) << i;
    EXPECT_EQ(0, std::memcmp(c.data() + 120, "data", 4));
    EXPECT_EQ(ReadU32(c, 124), 1000u);
}

TEST(Records, CopiedHeaderChangesOnlyItsSizes) {
    HeaderDescription d;
    d.copied = Bytes(50, 0xAB);
    std::memcpy(d.copied.data(), "RIFF", 4);
    d.dataSize = 7;
    Bytes out = EncodeHeader(d);
    ASSERT_EQ(out.size(), 50u);
    EXPECT_EQ(ReadU32(out, 4), 50u + 7 + 1 - 8);
    EXPECT_EQ(ReadU32(out, 46), 7u);
    for (std::size_t i : {8u, 12u, 43u, 45u}) EXPECT_EQ(out[i], 0xAB);
    // The extension reads back as written.
    std::uint8_t ext[FormatExtension::kSize];
    FormatExtension{20, 0x60F, 3}.Encode(ext);
    const FormatExtension back = FormatExtension::Decode(ext);
    EXPECT_EQ(back.validBits, 20);
    EXPECT_EQ(back.channelMask, 0x60Fu);
    EXPECT_EQ(back.subFormat, 3);
}

TEST(Records, SpeakerNamesAndDefaultMasks) {
    EXPECT_EQ(SpeakerNamesOfMask(0x33), (std::vector<std::string>{"Left", "Right", "S-Left", "S-Right"}));
    EXPECT_EQ(SpeakerNamesOfMask(0x60F),
              (std::vector<std::string>{"Left", "Right", "Center", "LFE", "Side Left", "Side Right"}));
    // Bits 18 and up have no name.
    EXPECT_EQ(SpeakerNamesOfMask(0xFFFC0000u | 0x20000u), (std::vector<std::string>{"T-B-Right"}));
    const std::pair<int, std::uint32_t> masks[] = {{0, 0},    {1, 0},    {2, 0x3},   {3, 0x7},   {4, 0x33},
                                                   {5, 0x37}, {6, 0x3F}, {7, 0x70F}, {8, 0x63F}, {9, 0}};
    for (const auto& [channels, mask] : masks) EXPECT_EQ(DefaultChannelMask(channels), mask) << channels;
}
