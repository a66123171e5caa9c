// Split, multiplex, pseudo-surround and normalize over every sample format
// they accept: integers of 8, 16, 24 and 32 bits, float of 32 and 64 bits,
// plain and extensible. References are computed here from decoded samples;
// sox checks the wide outputs where it is installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ops/catalogue.h"
#include "ops/multiplex.h"
#include "ops/normalize.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "ops_fixture.h"
#include "wav/error.h"
#include "allowed.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

struct Format {
    const char* name;
    int bits;
    bool isFloat;
    bool extensible;
};

const Format kFormats[] = {
    {"i8", 8, false, false},  {"i16", 16, false, false}, {"i24", 24, false, false}, {"i32", 32, false, false},
    {"f32", 32, true, false}, {"f64", 64, true, false},  {"i24x", 24, false, true}, {"i32x", 32, false, true},
    {"f32x", 32, true, true}, {"f64x", 64, true, true},
};

double FullScale(int bits) { return std::ldexp(1.0, bits - 1) - 1; }

// Sample values as numbers: integers in their own units, float as stored.
double Decode(const std::uint8_t* p, const Format& f) {
    const int n = f.bits / 8;
    std::uint64_t u = 0;
    for (int k = 0; k < n; ++k) u |= std::uint64_t{p[k]} << (8 * k);
    if (f.isFloat) {
        if (n == 4) {
            float v;
            auto u32 = static_cast<std::uint32_t>(u);
            std::memcpy(&v, &u32, 4);
            return v;
        }
        double v;
        std::memcpy(&v, &u, 8);
        return v;
    }
    if (n == 1) return static_cast<double>(u) - 128;
    const std::int64_t sign = std::int64_t{1} << (f.bits - 1);
    return static_cast<double>(static_cast<std::int64_t>(u ^ static_cast<std::uint64_t>(sign)) - sign);
}

void Encode(double v, const Format& f, Bytes& out) {
    const int n = f.bits / 8;
    std::uint64_t u;
    if (f.isFloat && n == 4) {
        const float x = static_cast<float>(v);
        std::uint32_t u32;
        std::memcpy(&u32, &x, 4);
        u = u32;
    } else if (f.isFloat) {
        std::memcpy(&u, &v, 8);
    } else {
        u = static_cast<std::uint64_t>(static_cast<std::int64_t>(v) + (n == 1 ? 128 : 0));
    }
    for (int k = 0; k < n; ++k) out.push_back(static_cast<std::uint8_t>(u >> (8 * k)));
}

// A signal of distinct values per frame and channel, below full scale, with
// one loud sample so the peak is known: `peak` of full scale at frame 5.
std::vector<double> Signal(const Format& f, std::size_t frames, int channels, double peak = 0.6) {
    std::vector<double> v;
    const double top = f.isFloat ? 1.0 : FullScale(f.bits);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            double x = std::sin(0.37 * static_cast<double>(i) + 1.3 * c) * 0.4;
            if (i == 5 && c == channels - 1) x = -peak;
            // Float values as the file holds them, so references start from them.
            if (f.isFloat && f.bits == 32) x = static_cast<float>(x);
            v.push_back(f.isFloat ? x : std::trunc(x * top));
        }
    return v;
}

WavBuilder Build(const Format& f, const std::vector<double>& values, int channels) {
    WavBuilder b;
    b.channels = static_cast<std::uint16_t>(channels);
    b.bitsPerSample = static_cast<std::uint16_t>(f.bits);
    b.samplesPerSec = 1000;
    b.formatTag = f.isFloat ? 3 : 1;
    if (f.isFloat) b.fmtSize = 18;  // cbSize 0, as float files carry it
    if (f.extensible) {
        b.Extensible(static_cast<std::uint16_t>(f.bits), channels == 2 ? 0x3 : 0x4);
        b.subFormatTag = f.isFloat ? 3 : 1;
    }
    for (double x : values) Encode(x, f, b.samples);
    return b;
}

// The samples of an output file, decoded, with its header's format checked
// against what a writer of this format must say.
struct Decoded {
    int channels = 0;
    std::vector<double> values;
};
Decoded ReadOutput(const std::string& path, const Format& f) {
    WaveInfo info = Analysed(path);
    EXPECT_EQ(info.format.bitsPerSample, f.bits) << path;
    const std::uint16_t tag = info.format.formatTag == 0xFFFE ? info.subFormatTag : info.format.formatTag;
    EXPECT_EQ(tag, f.isFloat ? 3 : 1) << path;
    // Float in the plain layout carries cbSize 0: an 18-byte format chunk.
    if (info.format.formatTag != 0xFFFE) {
        EXPECT_EQ(info.format.fmtSize, f.isFloat ? 18 : 16) << path;
    }
    EXPECT_EQ(info.riffSize + 8u, info.fileSize) << path;
    Bytes bytes = ReadFile(path);
    Decoded d;
    d.channels = info.format.channels;
    const std::size_t start = static_cast<std::size_t>(info.dataChunkPos) + 8;
    EXPECT_EQ(start + info.dataSize, bytes.size()) << path;
    const auto width = static_cast<std::size_t>(f.bits / 8);
    for (std::size_t p = start; p + width <= bytes.size(); p += width) d.values.push_back(Decode(&bytes[p], f));
    return d;
}

// sox's reading of a file, as 64-bit float: the oracle for the wide outputs.
std::vector<double> SoxSamples(const std::string& path, const TempDir& dir) {
    const std::string raw = dir.file("sox.f64");
    const std::string cmd = "sox -V1 '" + path + "' -t f64 '" + raw + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    Bytes b = ReadFile(raw);
    std::vector<double> v(b.size() / 8);
    std::memcpy(v.data(), b.data(), v.size() * 8);
    return v;
}

// The same values on sox's scale (integers divided by 2^(bits-1)).
std::vector<double> Scaled(const std::vector<double>& v, const Format& f) {
    if (f.isFloat) return v;
    std::vector<double> s;
    for (double x : v) s.push_back(x / std::ldexp(1.0, f.bits - 1));
    return s;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, double tol, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], tol) << what << " at " << i;
}

class FormatsTest : public ::testing::Test {
protected:
    TempDir dir;
    TraceHost host;
};

}  // namespace

TEST_F(FormatsTest, SplitKeepsEverySampleFormat) {
    const bool sox = HasTool("sox");
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        host = TraceHost{};
        const int channels = 4;  // the default mask names four channels
        const std::vector<double> in = Signal(f, 1500, channels);
        WavBuilder b = Build(f, in, channels);
        if (f.extensible) b.channelMask = 0x33;
        const std::string src = dir.write(std::string(f.name) + ".wav", b.Build());
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(src, info);
        ASSERT_TRUE(Allowed(info, r).contains(Operation::Split));
        const auto paths = ChannelSplit(info, {src, dir.path()}, host);
        ASSERT_EQ(paths.size(), 4u);
        // 1.5 s at 1000 Hz in one pass, whatever the sample width.
        EXPECT_EQ(host.gauge, (std::vector<int>{0, 100}));
        for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
            std::vector<double> want;
            for (std::size_t i = c; i < in.size(); i += channels) want.push_back(in[i]);
            Decoded d = ReadOutput(paths[c], f);
            EXPECT_EQ(d.channels, 1);
            ExpectNear(d.values, want, 0, paths[c]);
            if (sox && f.bits > 16 && c == 2 && !f.isFloat) {
                // sox's own channel extraction gives the same samples (its
                // 32-bit internal format rounds float, so integers only).
                const std::string ref = dir.file("remix.wav");
                ASSERT_EQ(std::system(("sox -V1 '" + src + "' '" + ref + "' remix 3").c_str()), 0);
                ExpectNear(SoxSamples(paths[c], dir), SoxSamples(ref, dir), 0, "sox remix");
            } else if (sox && f.isFloat && c == 2) {
                ExpectNear(SoxSamples(paths[c], dir), want, 1e-9, "sox");
            }
        }
    }
}

TEST_F(FormatsTest, MultiplexInterleavesEveryMonoFormat) {
    for (const Format& f : kFormats) {
        for (bool withCentre : {false, true}) {
            SCOPED_TRACE(std::string(f.name) + (withCentre ? " L/R/C" : " L/R"));
            ChannelList list;
            WaveInfo info;
            std::vector<std::vector<double>> mono;
            std::string lastPath;
            const int rows = withCentre ? 3 : 2;
            for (int row = 0; row < rows; ++row) {
                std::vector<double> v = Signal(f, static_cast<std::size_t>(1200 + 10 * row), 1, 0.3 + 0.1 * row);
                for (double& x : v) x = f.isFloat ? x : std::trunc(x * (row + 1) / 4);
                mono.push_back(v);
                lastPath = dir.write(std::string(f.name) + std::to_string(row) + ".wav", Build(f, v, 1).Build());
                ASSERT_TRUE(RegisterChannelFile(row, lastPath, info, list).registered);
            }
            WaveInfo last;
            AnalysisResult r = AnalyzeWave(lastPath, last);
            ASSERT_TRUE(Allowed(last, r).contains(Operation::Multiplex));
            MultiplexOptions options;
            options.outputFolder = dir.path();
            const auto paths = WriteMultiplex(list, options, host);
            ASSERT_EQ(paths.size(), 1u);
            Decoded d = ReadOutput(paths[0], f);
            EXPECT_EQ(Analysed(paths[0]).format.formatTag, withCentre ? 0xFFFE : (f.isFloat ? 3 : 1));
            ASSERT_EQ(d.channels, rows);
            std::vector<double> want;  // as long as the shortest file
            for (std::size_t i = 0; i < mono[0].size(); ++i)
                for (std::size_t c = 0; c < static_cast<std::size_t>(rows); ++c) want.push_back(mono[c][i]);
            ExpectNear(d.values, want, 0, paths[0]);
        }
    }
    // Float and integer files of one width do not mix.
    ChannelList list;
    WaveInfo info;
    for (int row = 0; row < 2; ++row) {
        const Format& f = kFormats[row == 0 ? 3 : 4];  // i32, f32
        const std::string path =
            dir.write("mix" + std::to_string(row) + ".wav", Build(f, Signal(f, 100, 1), 1).Build());
        ASSERT_TRUE(RegisterChannelFile(row, path, info, list).registered);
    }
    MultiplexOptions options;
    options.outputFolder = dir.path();
    try {
        WriteMultiplex(list, options, host);
        ADD_FAILURE() << "mixed float and integer rows were multiplexed";
    } catch (const VelmoraError& e) {
        EXPECT_EQ(ErrorCodeOf(e.what()), "format-mismatch");
    }
}

TEST_F(FormatsTest, SurroundDelaysTheRearPairOfEveryStereoFormat) {
    const bool sox = HasTool("sox");
    for (const Format& f : kFormats) {
        if (f.bits == 8) continue;  // 8-bit stereo stays without surround
        for (bool extended : {true, false}) {
            SCOPED_TRACE(std::string(f.name) + (extended ? " 4ch" : " 6ch"));
            const std::vector<double> in = Signal(f, 1300, 2);
            const std::string src = dir.write(std::string(f.name) + ".wav", Build(f, in, 2).Build());
            WaveInfo info;
            AnalysisResult r = AnalyzeWave(src, info);
            ASSERT_TRUE(Allowed(info, r).contains(Operation::Surround));
            SurroundOptions o;
            o.source = src;
            o.outputFolder = dir.path();
            o.delayMs = 30;  // 30 frames at 1000 Hz
            o.swapRear = true;
            o.header = extended ? SurroundHeader::Extensible : SurroundHeader::Plain;
            const auto paths = PseudoSurround(info, o, host);
            ASSERT_EQ(paths.size(), 1u);
            Decoded d = ReadOutput(paths[0], f);
            const int out = extended ? 4 : 6;
            ASSERT_EQ(d.channels, out);
            std::vector<double> want;
            for (std::size_t n = 0; n < in.size() / 2; ++n) {
                want.push_back(in[2 * n]);
                want.push_back(in[2 * n + 1]);
                if (!extended) want.insert(want.end(), {0.0, 0.0});
                want.push_back(n < 30 ? 0 : in[2 * (n - 30) + 1]);  // exchanged
                want.push_back(n < 30 ? 0 : in[2 * (n - 30)]);
            }
            ExpectNear(d.values, want, 0, paths[0]);
            if (extended) {
                EXPECT_EQ(Analysed(paths[0]).validBits, f.bits);
            }
            if (sox && f.bits > 16) ExpectNear(SoxSamples(paths[0], dir), Scaled(want, f), 1e-9, "sox");
        }
    }
}

TEST_F(FormatsTest, NormalizeReachesFullScaleOfEveryStereoFormat) {
    struct View : PeakListView {
        void showList() override {}
        void clearRows() override { rows.clear(); }
        void addRow(int, int, int peak) override { rows.push_back(peak); }
        void addFloatRow(int, int, double peak) override {
            rows.push_back(peak);
            floatRows = true;
        }
        void setLabel(const std::string& text) override { label = text; }
        void hide() override {}
        std::vector<double> rows;
        bool floatRows = false;
        std::string label;
    };
    for (const Format& f : kFormats) {
        if (f.bits == 8) continue;  // 8-bit stereo stays without normalize
        SCOPED_TRACE(f.name);
        // Two minutes and a bit at 10 Hz: three rows, the loudest in the first.
        const std::vector<double> in = Signal(f, 1250, 2, 0.55);
        WavBuilder b = Build(f, in, 2);
        b.samplesPerSec = 10;
        const std::string src = dir.write(std::string(f.name) + ".wav", b.Build());
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(src, info);
        ASSERT_TRUE(Allowed(info, r).contains(Operation::Normalize));
        View view;
        const auto paths = Normalize(info, {src, dir.path()}, view, host);
        ASSERT_EQ(paths.size(), 1u);

        const double top = f.isFloat ? 1.0 : FullScale(f.bits);
        double peak = 0;
        for (double x : in) peak = std::max(peak, std::min(std::fabs(x), top));
        std::vector<double> want;
        for (double x : in) {
            if (f.isFloat) {
                want.push_back(f.bits == 32 ? static_cast<float>(x / peak) : x / peak);
            } else if (f.bits == 16) {
                want.push_back(std::trunc(x * static_cast<double>(32767.0f / static_cast<float>(peak))));
            } else {
                want.push_back(std::trunc(x * (top / peak)));
            }
        }
        ExpectNear(ReadOutput(paths[0], f).values, want, 0, paths[0]);
        ASSERT_EQ(view.rows.size(), 3u);
        EXPECT_EQ(view.rows[0], peak);
        EXPECT_EQ(view.floatRows, f.isFloat);
        char label[64];
        if (f.isFloat)
            std::snprintf(label, sizeof label, "ピーク値:%.6g ", peak);
        else
            std::snprintf(label, sizeof label, "ピーク値:%d ", static_cast<int>(peak));
        EXPECT_EQ(view.label, label);
        double outPeak = 0;
        for (double x : want) outPeak = std::max(outPeak, std::fabs(x));
        EXPECT_NEAR(outPeak, top, f.isFloat ? 0 : 1);
    }
}
