// Files past 4 GiB: RF64/BW64 and plain RIFF files whose 32-bit sizes wrap,
// read and written. Big fixtures are sparse: a header, then a hole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "allowed.h"
#include "cli_runner.h"
#include "ops/recover.h"
#include "io/file.h"
#include "wav/header.h"
#include "ops/repair.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "ops_fixture.h"
#include "wav/bytes.h"
#include "wav/rf64.h"
#include "wav/text.h"

namespace velmora::test {
namespace {

constexpr std::uint64_t k4G = 0x100000000ull;

std::uint64_t ReadU64(const Bytes& b, std::size_t at) {
    return std::uint64_t{ReadU32(b, at)} | (std::uint64_t{ReadU32(b, at + 4)} << 32);
}

Bytes ReadHead(const std::string& path, std::size_t n) {
    File f = File::OpenRead(path);
    Bytes b(n);
    b.resize(f.readAt(0, b.data(), n));
    return b;
}

void WriteAt(const std::string& path, std::uint64_t at, const Bytes& bytes) {
    File f = File::OpenReadWrite(path);
    f.writeAt(at, bytes.data(), bytes.size());
}

bool RoomFor(const std::string& folder, std::uint64_t bytes) {
    return std::filesystem::space(folder).available > bytes + (std::uint64_t{1} << 30);
}

// 16-bit stereo at 48 kHz: a frame of 4 bytes.
WavBuilder Stereo48k() {
    WavBuilder b;
    b.samplesPerSec = 48000;
    return b;
}

struct ReadCase {
    const char* name;
    bool rf64;
    const char* riffId;
    std::uint64_t data;       // true data size
    std::uint32_t dataField;  // 32-bit data size of a plain file
    bool consistent;
};

TEST(Rf64, AnalysisReadsTrueSizesPast4GiB) {
    const std::uint64_t big = k4G + 4 * 48000 * 2 + 4 * 1000;  // 2 s and 1000 frames past 4 GiB
    const ReadCase cases[] = {
        {"rf64", true, "RF64", big, 0, true},
        {"bw64", true, "BW64", big, 0, true},
        {"small-rf64", true, "RF64", 4 * 48000, 0, true},
        {"wrapped", false, "RIFF", big, static_cast<std::uint32_t>(big), true},
        {"wrapped-wrong", false, "RIFF", big, 1000, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavBuilder b = Stereo48k();
        const std::uint64_t header = c.rf64 ? 80 : 44;
        if (c.rf64)
            b.Rf64(header + c.data - 8, c.data, c.riffId);
        else
            b.dataSize = c.dataField, b.riffSize = static_cast<std::uint32_t>(header + c.data - 8);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        WriteSparse(path, b.Build(), header + c.data);

        WaveInfo info;
        const AnalysisResult r = AnalyzeWave(path, info);
        ASSERT_TRUE(r.complete());
        EXPECT_EQ(info.rf64, c.rf64);
        EXPECT_EQ(info.fileSize, header + c.data);
        EXPECT_EQ(r.fileSizeOK && r.footerOK, c.consistent);
        EXPECT_EQ(Allowed(info, r).contains(Operation::Split),
                  c.consistent);  // the split is offered only to a whole file
        if (!c.consistent) continue;
        EXPECT_EQ(info.dataSize, c.data);
        EXPECT_EQ(info.riffSize, header + c.data - 8);
        EXPECT_EQ(info.totalSeconds() * 48000 + info.playRemainderFrames, static_cast<std::int64_t>(c.data / 4));
        const auto& lines = *r.report;
        EXPECT_EQ(lines[0], "WAVEチャンク以降のサイズ: " + GroupThousands(header + c.data - 8) + "Byte");
        EXPECT_EQ(lines[8], "データサイズ            : " + GroupThousands(c.data) + "Byte");
        EXPECT_EQ(lines[9], "ファイルサイズ          : " + GroupThousands(header + c.data) + "Byte");
        EXPECT_EQ(lines[15], "ファイルサイズ OK/データサイズ OK/フッタ OK");
        if (std::string(c.name) == "rf64") {
            EXPECT_EQ(lines[8], "データサイズ            : 4,295,355,296Byte");
            EXPECT_EQ(lines[14], "再生時間                : 6h 12m 51s 30824");
        }
    }
}

TEST(Rf64, InfoJsonGivesSixtyFourBitSizes) {
    TempDir dir;
    const std::uint64_t data = k4G + 400;
    const std::string path = dir.file("big.wav");
    WriteSparse(path, Stereo48k().Rf64(80 + data - 8, data).Build(), 80 + data);
    const CliRun run = RunCli("info --jsonl " + Quote(path), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["waveInfo"]["dataSize"].get<std::uint64_t>(), data);
    EXPECT_EQ(j["waveInfo"]["fileSize"].get<std::uint64_t>(), 80 + data);
    EXPECT_EQ(j["waveInfo"]["riffId"], "RF64");
}

// A copied header sized for dataSize bytes of samples; its frame size is the
// analysed one, as a caller's would be (the stereo 16-bit fixtures here).
Bytes Sized(const Bytes& header, std::uint64_t dataSize) {
    HeaderDescription d;
    d.format.blockAlign = 4;
    d.copied = header;
    d.dataSize = dataSize;
    return EncodeHeader(d);
}

TEST(Rf64, HeadersTurnRf64OnlyPast32Bits) {
    const Bytes plain = Slice(Stereo48k().Build(), 0, 44);
    // Within 32 bits a plain header is kept byte for byte but for its sizes.
    const std::uint64_t largest = 0xFFFFFFFFull - 37;
    Bytes fits = plain;
    PutU32(fits.data() + 4, 0xFFFFFFFEu);
    PutU32(fits.data() + 40, static_cast<std::uint32_t>(largest));
    EXPECT_EQ(Sized(plain, largest), fits);

    const std::uint64_t data = 5 * k4G + 12;
    const Bytes rf = Sized(plain, data);
    ASSERT_EQ(rf.size(), 80u);
    EXPECT_EQ(std::string(rf.begin(), rf.begin() + 4), "RF64");
    EXPECT_EQ(ReadU32(rf, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(rf.begin() + 8, rf.begin() + 16), "WAVEds64");
    EXPECT_EQ(ReadU32(rf, 16), 28u);
    EXPECT_EQ(ReadU64(rf, 20), 80 + data - 8);
    EXPECT_EQ(ReadU64(rf, 28), data);
    EXPECT_EQ(ReadU64(rf, 36), data / 4);
    EXPECT_EQ(ReadU32(rf, 44), 0u);
    EXPECT_EQ(Slice(rf, 48, 28), Slice(plain, 12, 28));  // format chunk and "data" id as they were
    EXPECT_EQ(ReadU32(rf, 76), 0xFFFFFFFFu);

    // An RF64 header copied from a source loses its ds64 when the output fits.
    Bytes back = Sized(rf, 400);
    Bytes expect = Slice(plain, 0, 4);
    AppendU32(expect, 36 + 400);
    AppendBytes(expect, Slice(plain, 8, 32));
    AppendU32(expect, 400);
    EXPECT_EQ(back, expect);
    // Images of an RF64 source without the ds64 still become plain RIFF.
    Bytes imaged = plain;
    std::memcpy(imaged.data(), "BW64", 4);
    EXPECT_EQ(Sized(imaged, largest), fits);
}

// The header of an output: the RIFF size counts the pad byte of odd data,
// in the 32-bit field and in ds64; even data keeps the header it had.
TEST(Rf64, OutputHeaderCountsThePadByte) {
    const Bytes plain = Slice(Stereo48k().Build(), 0, 44);
    struct Case {
        std::uint64_t data;
        bool rf64;
        std::uint64_t riff;
    };
    for (const Case& c : {Case{0, false, 36}, Case{1000, false, 1036}, Case{1001, false, 1038},
                          Case{0xFFFFFFFFull - 37, false, 0xFFFFFFFFull - 1}, Case{0xFFFFFFFFull - 36, true, 0},
                          Case{5 * k4G + 13, true, 80 + 5 * k4G + 13 + 1 - 8}}) {
        SCOPED_TRACE(c.data);
        const Bytes h = Sized(plain, c.data);
        EXPECT_EQ(PadAfter(c.data), c.data & 1);
        if (!c.rf64) {
            ASSERT_EQ(h.size(), 44u);
            EXPECT_EQ(ReadU32(h, 4), c.riff);
            EXPECT_EQ(ReadU32(h, 40), c.data);
            EXPECT_EQ(Slice(h, 8, 32), Slice(plain, 8, 32));
            continue;
        }
        ASSERT_EQ(h.size(), 80u);
        EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RF64");
        EXPECT_EQ(ReadU64(h, 20), 80 + c.data + (c.data & 1) - 8);
        EXPECT_EQ(ReadU64(h, 28), c.data);
    }
    // Even data below 4 GiB: the bytes the builder gave.
    Bytes built = plain;
    PutU32(built.data() + 4, 36 + 400);
    PutU32(built.data() + 40, 400);
    EXPECT_EQ(Sized(built, 400), built);
}

// A header as the writers build it past 4 GiB, read back by the analysis and
// by ffprobe.
TEST(Rf64, WrittenHeaderReadsBack) {
    TempDir dir;
    WavBuilder b = Stereo48k();
    b.channels = 6;
    const Bytes plain = Slice(b.Build(), 0, 44);
    const std::uint64_t frames = 48000ull * 3600 * 3;  // three hours of 6 channels: past 4 GiB
    const std::uint64_t data = frames * 12;
    const std::string path = dir.file("written.wav");
    WriteSparse(path, Sized(plain, data), 80 + data);

    const WaveInfo info = Analysed(path);
    EXPECT_EQ(info.dataSize, data);
    EXPECT_EQ(info.playHours, 3);
    if (!HasTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    const CliRun probe =
        RunShell("ffprobe -v error -show_entries stream=channels,duration_ts -of csv=p=0 " + Quote(path), dir);
    EXPECT_EQ(probe.out, "6," + std::to_string(frames) + "\n");
}

// One whole operation over 4 GiB of (sparse) samples: the footer removal of
// an RF64 source writes an RF64 copy without the footer.
TEST(Rf64, FooterRemovalPast4GiBWritesRf64) {
    TempDir dir;
    const std::uint64_t data = k4G + 4 * 48000;
    if (!RoomFor(dir.path(), data)) GTEST_SKIP() << "not enough free disk for a 4 GiB output";
    const Bytes list = ListChunk(26);
    const std::string path = dir.file("long.wav");
    WriteSparse(path, Stereo48k().Rf64(80 + data + list.size() - 8, data).Build(), 80 + data);
    WriteAt(path, 80 + data, list);

    WaveInfo info = Analysed(path);
    ASSERT_EQ(info.listFooterSize, 34u);
    TraceHost host;
    const auto out = RemoveFooter(info, {path, dir.path()}, host);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(out[0]), 80 + data);
    const WaveInfo copy = Analysed(out[0]);
    EXPECT_TRUE(copy.rf64);
    EXPECT_EQ(copy.dataSize, data);
    EXPECT_EQ(copy.riffSize, 80 + data - 8);
    EXPECT_EQ(copy.listFooterSize, 0u);
    if (HasTool("ffprobe")) {
        const CliRun probe =
            RunShell("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate,duration_ts -of csv=p=0 " +
                         Quote(out[0]),
                     dir);
        EXPECT_EQ(probe.out, "pcm_s16le,48000,2," + std::to_string(data / 4) + "\n");
    }
}

// An RF64 source small enough for plain RIFF gives the bytes a RIFF twin gives.
TEST(Rf64, SmallOutputsOfRf64SourcesArePlainRiff) {
    TempDir rfDir, plainDir;
    WavBuilder b = Stereo48k();
    b.samples = PatternSamples(48000 + 123, 2, 2);
    b.fmtSize = 18;  // so the header rebuild accepts the twin too
    WavBuilder rf = b;
    rf.Rf64(80 + 2 + b.samples.size() - 8, b.samples.size());
    WavBuilder withList = b;
    withList.trailer = ListChunk(10);
    WavBuilder rfList = rf;
    rfList.trailer = ListChunk(10);
    rfList.ds64RiffSize = *rf.ds64RiffSize + 18;

    using Op = std::vector<std::string> (*)(WaveInfo&, const std::string&, const std::string&, Host&);
    const struct {
        const char* name;
        const WavBuilder* plain;
        const WavBuilder* rf64;
        Op op;
    } ops[] = {
        {"split", &b, &rf,
         [](WaveInfo& i, const std::string& f, const std::string& d, Host& h) {
             return ChannelSplit(i, {f, d}, h);
         }},
        {"surround", &b, &rf,
         [](WaveInfo& i, const std::string& f, const std::string& d, Host& h) {
             SurroundOptions o;
             o.source = f, o.outputFolder = d;
             return PseudoSurround(i, o, h);
         }},
        {"rebuild", &b, &rf,
         [](WaveInfo& i, const std::string& f, const std::string& d, Host& h) {
             return RebuildHeader(i, {f, d}, h);
         }},
        {"footer", &withList, &rfList,
         [](WaveInfo& i, const std::string& f, const std::string& d, Host& h) {
             return RemoveFooter(i, {f, d}, h);
         }},
    };
    for (const auto& c : ops) {
        SCOPED_TRACE(c.name);
        const std::string p = plainDir.write(std::string(c.name) + ".wav", c.plain->Build());
        const std::string r = rfDir.write(std::string(c.name) + ".wav", c.rf64->Build());
        WaveInfo pi = Analysed(p), ri = Analysed(r);
        ASSERT_TRUE(ri.rf64);
        TraceHost h;
        const auto po = c.op(pi, p, plainDir.path(), h);
        const auto ro = c.op(ri, r, rfDir.path(), h);
        ASSERT_EQ(po.size(), ro.size());
        ASSERT_FALSE(po.empty());
        for (std::size_t k = 0; k < po.size(); ++k) {
            EXPECT_EQ(ReadFile(ro[k]), ReadFile(po[k])) << ro[k];
        }
    }
}

// In place: fix-riff-size and recover write the ds64 sizes of an RF64 file
// and leave its 32-bit fields at 0xFFFFFFFF; a wrapped file gets its size
// modulo 2^32.
TEST(Rf64, InPlacePatchesPast4GiB) {
    TempDir dir;
    const std::uint64_t data = k4G + 4 * 48000;
    const std::uint64_t length = 80 + data;

    const std::string fix = dir.file("fix.wav");
    WriteSparse(fix, Stereo48k().Rf64(length + 100, data).Build(), length);
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(fix, info);
    ASSERT_TRUE(Allowed(info, r).contains(Operation::FixRiffSize));
    TraceHost host;
    ASSERT_EQ(RewriteRiffSize(info, {fix}, host).size(), 1u);
    Bytes head = ReadHead(fix, 80);
    EXPECT_EQ(ReadU64(head, 20), length - 8);
    EXPECT_EQ(ReadU64(head, 28), data);
    EXPECT_EQ(ReadU32(head, 4), 0xFFFFFFFFu);
    r = AnalyzeWave(fix, info);
    EXPECT_TRUE(r.fileSizeOK);

    const std::string wrap = dir.file("wrap.wav");
    WavBuilder w = Stereo48k();
    w.dataSize = static_cast<std::uint32_t>(data), w.riffSize = 7;
    WriteSparse(wrap, w.Build(), 44 + data);
    r = AnalyzeWave(wrap, info);
    ASSERT_TRUE(Allowed(info, r).contains(Operation::FixRiffSize));
    ASSERT_EQ(RewriteRiffSize(info, {wrap}, host).size(), 1u);
    EXPECT_EQ(ReadU32(ReadHead(wrap, 8), 4), static_cast<std::uint32_t>(44 + data - 8));
    r = AnalyzeWave(wrap, info);
    EXPECT_TRUE(r.fileSizeOK && r.footerOK);
    EXPECT_EQ(info.riffSize, 44 + data - 8);

    // A recording that stopped with 0 in its ds64 data size; a last frame cut short.
    const std::string rec = dir.file("rec.wav");
    WriteSparse(rec, Stereo48k().Rf64(0, 0).Build(), length + 3);
    r = AnalyzeWave(rec, info);
    ASSERT_TRUE(Allowed(info, r).contains(Operation::Recover));
    ASSERT_EQ(RecoverDataSize(info, {rec}, host).size(), 1u);
    head = ReadHead(rec, 80);
    EXPECT_EQ(ReadU64(head, 20), length + 3 - 8);
    EXPECT_EQ(ReadU64(head, 28), data);
    EXPECT_EQ(ReadU32(head, 76), 0xFFFFFFFFu);
    EXPECT_EQ(Analysed(rec).dataSize, data);

    // The same recording in plain RIFF: its sizes modulo 2^32.
    const std::string plain = dir.file("plain-rec.wav");
    WavBuilder p = Stereo48k();
    p.dataSize = 0, p.riffSize = 0;
    WriteSparse(plain, p.Build(), 44 + data);
    r = AnalyzeWave(plain, info);
    ASSERT_TRUE(Allowed(info, r).contains(Operation::Recover));
    ASSERT_EQ(RecoverDataSize(info, {plain}, host).size(), 1u);
    head = ReadHead(plain, 44);
    EXPECT_EQ(ReadU32(head, 40), static_cast<std::uint32_t>(data));
    EXPECT_EQ(ReadU32(head, 4), static_cast<std::uint32_t>(44 + data - 8));
    EXPECT_EQ(Analysed(plain).dataSize, data);
}

}  // namespace
}  // namespace velmora::test
