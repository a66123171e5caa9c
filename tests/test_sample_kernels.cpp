// The vectorised inner loops against plain scalar statements of the same
// rules, over lengths that leave every kind of vector tail, and the
// multiplex writer, which never reads its output back.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "ops/multiplex.h"
#include "ops/normalize.h"
#include "ops/sample_kernels.h"
#include "io/file.h"
#include "wav/error.h"
#include "wav/text.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::size_t kLengths[] = {0, 1, 2, 7, 15, 16, 17, 31, 33, 63, 64, 65, 127, 1000, 4801};

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

std::int16_t SampleAt(const Bytes& b, std::size_t i) { return static_cast<std::int16_t>(ReadU16(b, 2 * i)); }

}  // namespace

TEST(SampleKernels, ScaleMatchesTheScalarRuleForEverySampleValue) {
    Bytes all;
    for (int v = -32768; v <= 32767; ++v) AppendU16(all, static_cast<std::uint16_t>(v));
    std::vector<float> gains;
    for (int peak : {1, 2, 3, 7, 100, 12345, 16384, 32766, 32767}) gains.push_back(NormalizeGain(peak));
    // Gains no peak gives: negative, past the 32-bit range of the products.
    for (float g : {-1.5f, -32767.0f, 65535.0f, 70000.0f, 1.0e9f, -1.0e9f}) gains.push_back(g);
    for (float gain : gains) {
        Bytes got = all;
        kernels::Scale16(got.data(), got.size() / 2, gain);
        for (std::size_t i = 0; i < all.size() / 2; ++i) {
            double want = std::trunc(SampleAt(all, i) * static_cast<double>(gain));
            want = std::fmin(std::fmax(want, -32768.0), 32767.0);
            ASSERT_EQ(SampleAt(got, i), static_cast<std::int16_t>(want))
                << "sample " << SampleAt(all, i) << " gain " << gain;
        }
    }
}

TEST(SampleKernels, PeakIsTheLoudestValueWithMinusFullScaleAs32767) {
    for (std::size_t n : kLengths) {
        Bytes b = RandomBytes(2 * n, static_cast<unsigned>(n));
        // Quiet samples, so a single loud one decides the peak.
        for (std::size_t i = 0; i < n; ++i) b[2 * i + 1] = static_cast<std::uint8_t>(b[2 * i + 1] % 8);
        int want = 0;
        for (std::size_t i = 0; i < n; ++i) want = std::max(want, std::abs(int{SampleAt(b, i)}));
        EXPECT_EQ(kernels::Peak16(b.data(), n), want) << n;
        if (n == 0) continue;
        // The loudest in the last sample (the vector tail), then -32768.
        b[2 * (n - 1)] = 0x18;
        b[2 * (n - 1) + 1] = 0xFC;  // -1000
        EXPECT_EQ(kernels::Peak16(b.data(), n), std::max(want, 1000)) << n;
        b[2 * (n - 1)] = 0x00;
        b[2 * (n - 1) + 1] = 0x80;
        EXPECT_EQ(kernels::Peak16(b.data(), n), 32767) << n;
    }
}

TEST(SampleKernels, ExtractAndPlaceMoveOnlyTheirSampleOfEachFrame) {
    for (std::size_t width = 1; width <= 5; ++width) {
        for (std::size_t channels : {1u, 2u, 3u, 4u, 6u, 8u}) {
            const std::size_t stride = width * channels;
            for (std::size_t frames : kLengths) {
                const Bytes frameBytes = RandomBytes(frames * stride, static_cast<unsigned>(frames + stride));
                const std::size_t slot = channels - 1;
                Bytes mono(frames * width + 3, 0xEE);  // 3 guard bytes
                kernels::ExtractChannel(frameBytes.data() + slot * width, stride, width, mono.data(), frames);
                Bytes placed = frameBytes;
                const Bytes packed = RandomBytes(frames * width, 99);
                kernels::PlaceChannel(packed.data(), width, placed.data() + slot * width, stride, frames);
                for (std::size_t f = 0; f < frames; ++f)
                    for (std::size_t k = 0; k < width; ++k) {
                        ASSERT_EQ(mono[f * width + k], frameBytes[f * stride + slot * width + k]);
                        // Widths past 4 are not placed: the frames stay as they were.
                        const std::uint8_t want =
                            width <= 4 ? packed[f * width + k] : frameBytes[f * stride + slot * width + k];
                        ASSERT_EQ(placed[f * stride + slot * width + k], want);
                    }
                for (std::size_t g = 0; g < 3; ++g) ASSERT_EQ(mono[frames * width + g], 0xEE);
                // Every other channel of every frame is untouched.
                for (std::size_t f = 0; f < frames; ++f)
                    for (std::size_t i = 0; i < slot * width; ++i)
                        ASSERT_EQ(placed[f * stride + i], frameBytes[f * stride + i]);
            }
        }
    }
}

TEST(SampleKernels, DeinterleaveAndInterleaveMoveWholeFramesEitherWay) {
    // Lengths around the 64-frame blocks of the widest build, and a second.
    std::vector<std::size_t> lengths(std::begin(kLengths), std::end(kLengths));
    lengths.insert(lengths.end(), {128, 129, 191, 48000});
    for (std::size_t width : {1u, 2u, 3u, 4u, 5u, 8u}) {
        for (std::size_t channels : {1u, 2u, 3u, 5u, 6u, 8u}) {
            const std::size_t stride = width * channels;
            for (std::size_t frames : lengths) {
                SCOPED_TRACE(std::to_string(width) + " bytes, " + std::to_string(channels) + " channels, " +
                             std::to_string(frames) + " frames");
                const Bytes frameBytes = RandomBytes(frames * stride, static_cast<unsigned>(frames * 31 + stride));
                std::vector<Bytes> mono(channels, Bytes(frames * width + 1, 0xEE));  // 1 guard byte each
                std::vector<std::uint8_t*> outs;
                for (auto& m : mono) outs.push_back(m.data());
                kernels::Deinterleave(frameBytes.data(), channels, width, outs.data(), frames);
                for (std::size_t c = 0; c < channels; ++c) {
                    for (std::size_t f = 0; f < frames; ++f)
                        for (std::size_t k = 0; k < width; ++k)
                            ASSERT_EQ(mono[c][f * width + k], frameBytes[f * stride + c * width + k]) << c << " " << f;
                    ASSERT_EQ(mono[c][frames * width], 0xEE);
                }
                // Back again: the frames as they were, for the widths samples come in.
                Bytes frames2(frames * stride + 1, 0xEE);
                std::vector<const std::uint8_t*> ins(outs.begin(), outs.end());
                kernels::Interleave(ins.data(), channels, width, frames2.data(), frames);
                if (width != 5) {
                    ASSERT_TRUE(std::equal(frameBytes.begin(), frameBytes.end(), frames2.begin()));
                } else {
                    ASSERT_EQ(frames2, Bytes(frames * stride + 1, 0xEE));  // nothing copied
                }
                ASSERT_EQ(frames2[frames * stride], 0xEE);
            }
        }
    }
}

namespace {

// A list whose pass-time reads shorten the output being written, as another
// program might between the writer's steps. The output is written under a
// temporary name for this (the only hidden file in its folder).
class ShorteningRows : public ChannelRowSource {
public:
    ShorteningRows(const ChannelList& list, int atCall, std::string folder, std::uintmax_t size)
        : list_(list), atCall_(atCall), folder_(std::move(folder)), size_(size) {}
    ChannelRow row(int index) const override {
        if (++calls_ == atCall_)
            for (const auto& e : std::filesystem::directory_iterator(folder_))
                if (e.path().filename().string()[0] == '.') std::filesystem::resize_file(e.path(), size_);
        return list_.row(index);
    }

private:
    const ChannelList& list_;
    int atCall_;
    std::string folder_;
    std::uintmax_t size_;
    mutable int calls_ = 0;
};

}  // namespace

// The output is written frame by frame, each once, and never read back: an
// output shortened by another program once the header is written (as the
// rows are read the second time) still comes out whole.
TEST(MultiplexReadBack, OutputShortenedBeforeTheSamplesIsStillWrittenWhole) {
    TempDir dir;
    WaveInfo info;
    ChannelList list;
    const char* names[2] = {"L.wav", "R.wav"};
    std::string inputs[2];
    Bytes samples[2];
    for (int row = 0; row < 2; ++row) {
        WavBuilder b;
        b.channels = 1;
        b.samplesPerSec = 100;
        b.samples = samples[row] = RandomBytes(700, static_cast<unsigned>(row));  // 3.5 seconds
        inputs[row] = dir.write(names[row], b.Build());
        ASSERT_TRUE(RegisterChannelFile(row, inputs[row], info, list).registered);
    }
    MultiplexOptions options;
    options.outputFolder = dir.path();
    const std::string out = dir.file("L(mux).wav");
    // Two channels of 2 bytes at 100 Hz: 400-byte seconds after a 44-byte
    // header. Cut to the first second and a quarter.
    const std::uintmax_t cut = 44 + 400 + 100;

    // Six calls at the start, then the second reading of rows 0 and 1. The
    // output is written under a temporary name here, so it can be cut.
    AllowUnnamedOutputs(false);
    for (int atCall : {7, 8}) {
        ShorteningRows rows(list, atCall, dir.path(), cut);
        RecordingHost host;
        WriteMultiplex(rows, options, host);
        EXPECT_EQ(host.logLines, (std::vector<std::string>{out, "00padding", inputs[0], inputs[1], "end"}));
        const Bytes written = ReadFile(out);
        ASSERT_EQ(written.size(), 44u + 700 * 2);
        for (std::size_t f = 0; f < 350; ++f)
            for (std::size_t row = 0; row < 2; ++row)
                for (std::size_t k = 0; k < 2; ++k)
                    ASSERT_EQ(written[44 + 4 * f + 2 * row + k], samples[row][2 * f + k]) << f;
    }
    AllowUnnamedOutputs(true);
}
