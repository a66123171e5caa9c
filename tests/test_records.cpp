#include <gtest/gtest.h>

#include "wav/bytes.h"
#include "wav/records.h"
#include "wav_builder.h"

using namespace velmora;
using velmora::test::Bytes;
using velmora::test::ReadU16;
using velmora::test::ReadU32;

namespace {

RiffHeader SampleRiff() { return {MakeFourCC("RIFF"), 0x11223344, MakeFourCC("WAVE")}; }
FormatBlock SampleFormat() {
    return {MakeFourCC("fmt "), 18, 1, 2, 44100, 176400, 4, 16};
}
DataHeader SampleData() { return {MakeFourCC("data"), 1000}; }

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
    Bytes h = BuildPlainHeader(SampleRiff(), SampleFormat(), SampleData());
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(ReadU32(h, 16), 16u);  // forced, although the image said 18
    EXPECT_EQ(ReadU16(h, 22), 2u);
    EXPECT_EQ(0, std::memcmp(h.data() + 36, "data", 4));
    EXPECT_EQ(ReadU32(h, 40), 1000u);
    EXPECT_EQ(ReadU32(h, 4), 0x11223344u);  // riffSize is the caller's
}

TEST(Records, ExtensibleHeaderWithAndWithoutCue) {
    Bytes h = BuildExtensibleHeader(SampleRiff(), SampleFormat(), 16, 0x33, SampleData(), false);
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

    Bytes c = BuildExtensibleHeader(SampleRiff(), SampleFormat(), 16, 0x33, SampleData(), true);
    ASSERT_EQ(c.size(), 128u);
    EXPECT_EQ(0, std::memcmp(c.data(), h.data(), 60));
    EXPECT_EQ(0, std::memcmp(c.data() + 60, "cue ", 4));
    EXPECT_EQ(ReadU32(c, 64), 52u);
    for (int i = 68; i < 120; ++i) EXPECT_EQ(c[i], 0) << i;
    EXPECT_EQ(0, std::memcmp(c.data() + 120, "data", 4));
    EXPECT_EQ(ReadU32(c, 124), 1000u);
}

TEST(Records, CopiedHeaderPatchesOnlyNamedFields) {
    Bytes src(50, 0xAB);
    Bytes out = BuildCopiedHeader(src, {{4, 0x01020304}, {44, 7}, {48, 9}});
    ASSERT_EQ(out.size(), 50u);
    EXPECT_EQ(ReadU32(out, 4), 0x01020304u);
    EXPECT_EQ(ReadU32(out, 44), 7u);
    EXPECT_EQ(out[48], 0xAB);  // a patch that would run past the end is ignored
    for (int i : {0, 3, 8, 43}) EXPECT_EQ(out[i], 0xAB);
}

TEST(Records, SpeakerNamesAndDefaultMasks) {
    EXPECT_EQ(SpeakerNamesOfMask(0x33), (std::vector<std::string>{"Left", "Right", "S-Left", "S-Right"}));
    EXPECT_EQ(SpeakerNamesOfMask(0x60F),
              (std::vector<std::string>{"Left", "Right", "Center", "LFE", "Side Left", "Side Right"}));
    // Bits 18 and up have no name.
    EXPECT_EQ(SpeakerNamesOfMask(0xFFFC0000u | 0x20000u), (std::vector<std::string>{"T-B-Right"}));
    EXPECT_EQ(DefaultChannelMask(2), 0x3u);
    EXPECT_EQ(DefaultChannelMask(4), 0x33u);
    EXPECT_EQ(DefaultChannelMask(6), 0x3Fu);
    for (int c : {0, 1, 3, 5, 7, 8}) EXPECT_EQ(DefaultChannelMask(c), 0u) << c;
}
