#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>

#include "io/paths.h"
#include "ops/normalize.h"
#include "error_of.h"
#include "ops_fixture.h"
#include "wav/error.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using Row = std::array<int, 3>;

class RecordingView : public PeakListView {
public:
    void showList() override { ++shown; }
    void clearRows() override { rows.clear(); }
    void addRow(int minute, int second, int peak) override { rows.push_back({minute, second, peak}); }
    void addFloatRow(int, int, double) override { ADD_FAILURE() << "an integer file listed float peaks"; }
    void setLabel(const std::string& text) override { label = text; }
    void hide() override { ++hidden; }
    int shown = 0;
    int hidden = 0;
    std::vector<Row> rows;
    std::string label;
};

class AskingHost : public TraceHost {
public:
    bool ask(const std::string& q) override {
        if (onAsk) onAsk();
        return TraceHost::ask(q);
    }
    std::function<void()> onAsk;
};

// 16-bit stereo at a low rate (the rate does not matter to the peaks): a
// quiet level with loud samples put in where a test wants them.
struct Signal {
    std::uint32_t rate = 1000;
    std::vector<std::int16_t> samples;
    Signal(std::size_t seconds, std::size_t extraFrames, std::int16_t level = 100) {
        samples.assign((seconds * rate + extraFrames) * 2, level);
        for (std::size_t i = 1; i < samples.size(); i += 2) samples[i] = static_cast<std::int16_t>(-level);
    }
    void put(double second, int channel, std::int16_t v) {
        samples.at(static_cast<std::size_t>(second * rate) * 2 + static_cast<std::size_t>(channel)) = v;
    }
    std::string write(const TempDir& dir, const std::string& name = "n.wav") const {
        WavBuilder b;
        b.samplesPerSec = rate;
        b.samples = Pcm16(samples);
        return dir.write(name, b.Build());
    }
};

std::vector<std::int16_t> SamplesOf(const Bytes& file, std::size_t header) {
    std::vector<std::int16_t> v;
    for (std::size_t i = header; i + 1 < file.size(); i += 2) v.push_back(static_cast<std::int16_t>(ReadU16(file, i)));
    return v;
}

}  // namespace

TEST(Normalize, RowsPerMinuteEarliestSecondAndAnswerNo) {
    TempDir dir;
    Signal sig(125, 0);
    sig.put(3.5, 0, 4000);
    sig.put(7.2, 0, 5000);
    sig.put(30.9, 1, -5000);  // as loud again: the row keeps second 7
    sig.put(65.0, 1, 6000);
    sig.put(123.99, 0, -7000);
    std::string src = sig.write(dir);
    WaveInfo info = Analysed(src);
    RecordingView view;
    AskingHost host;
    host.answer = false;
    EXPECT_TRUE(Normalize(info, {src, dir.path()}, view, host).empty());
    EXPECT_EQ(view.rows, (std::vector<Row>{{0, 7, 5000}, {1, 5, 6000}, {2, 3, 7000}}));
    EXPECT_EQ(view.label, "ピーク値:7000 ");
    EXPECT_EQ(host.questions, std::vector<std::string>{"ノーマライズをしますか？"});
    // Answer No: the list stays shown, nothing is written, the gauge untouched.
    EXPECT_EQ(view.shown, 1);
    EXPECT_EQ(view.hidden, 0);
    EXPECT_TRUE(host.gauge.empty());
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"n.wav"});
    EXPECT_EQ(host.pumps, 125 + 3);
}

TEST(Normalize, LastRowOnlyForLeftoverSecondsOrFrames) {
    TempDir dir;
    Signal whole(120, 0);
    whole.put(61.0, 0, 300);
    RecordingView view;
    AskingHost host;
    host.answer = false;
    std::string a = whole.write(dir, "a.wav");
    Normalize(Analysed(a), {a, dir.path()}, view, host);
    EXPECT_EQ(view.rows, (std::vector<Row>{{0, 0, 100}, {1, 1, 300}}));

    Signal more(120, 100);
    more.put(120.05, 1, 900);
    std::string b = more.write(dir, "b.wav");
    Normalize(Analysed(b), {b, dir.path()}, view, host);
    EXPECT_EQ(view.rows, (std::vector<Row>{{0, 0, 100}, {1, 0, 100}, {2, 0, 900}}));
}

TEST(Normalize, ShorterThanASecondScalesWithoutTouchingTheGauge) {
    TempDir dir;
    Signal sig(0, 600);
    for (std::size_t i = 0; i < sig.samples.size(); ++i) sig.samples[i] = static_cast<std::int16_t>(i % 3) - 1;
    sig.put(0.3, 1, 3);
    sig.put(0.4, 0, -3);
    sig.put(0.5, 0, 2);
    std::string src = sig.write(dir);
    RecordingView view;
    AskingHost host;
    auto paths = Normalize(Analysed(src), {src, EnsureTrailingSeparator(dir.path())}, view, host);
    ASSERT_EQ(paths, std::vector<std::string>{dir.file("n(normalize).wav")});
    EXPECT_EQ(view.rows, (std::vector<Row>{{0, 0, 3}}));
    EXPECT_TRUE(host.gauge.empty());
    EXPECT_EQ(view.hidden, 1);
    // Peak 3: the single-precision gain lies just below 32767 / 3.
    auto out = SamplesOf(ReadFile(paths[0]), 44);
    ASSERT_EQ(out.size(), 1200u);
    EXPECT_EQ(out[300 * 2 + 1], 32766);
    EXPECT_EQ(out[400 * 2], -32766);
    EXPECT_EQ(out[500 * 2], 21844);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 10922);
    EXPECT_EQ(out[0], -10922);
}

TEST(Normalize, Peak16384GainAndTruncationTowardZero) {
    EXPECT_EQ(NormalizeGain(16384), 1.99993896484375f);
    EXPECT_EQ(NormalizeGain(32767), 1.0f);
    TempDir dir;
    Signal sig(2, 0, 0);
    const std::int16_t in[] = {16384, -1, -16384, 1, 8192, -8192};
    for (std::size_t i = 0; i < 6; ++i) sig.samples[1000 + i] = in[i];
    std::string src = sig.write(dir);
    RecordingView view;
    AskingHost host;
    auto paths = Normalize(Analysed(src), {src, dir.path()}, view, host);
    EXPECT_EQ(view.label, "ピーク値:16384 ");
    EXPECT_EQ(host.gauge, (std::vector<int>{50, 100}));
    auto out = SamplesOf(ReadFile(paths.at(0)), 44);
    EXPECT_EQ(std::vector<std::int16_t>(out.begin() + 1000, out.begin() + 1006),
              (std::vector<std::int16_t>{32767, -1, -32767, 1, 16383, -16383}));
    EXPECT_EQ(out[0], 0);
}

TEST(Normalize, MinusFullScaleCountsAs32767AndTheHeaderIsCopied) {
    TempDir dir;
    Signal sig(1, 30);
    sig.put(0.5, 1, -32768);
    WavBuilder b;
    b.samplesPerSec = sig.rate;
    b.fmtSize = 18;
    b.betweenFmtAndData = Chunk("fact", Bytes{1, 2, 3, 4});
    b.samples = Pcm16(sig.samples);
    std::string src = dir.write("m.wav", b.Build());
    RecordingView view;
    AskingHost host;
    auto paths = Normalize(Analysed(src), {src, dir.path()}, view, host);
    EXPECT_EQ(view.label, "ピーク値:32767 ");
    EXPECT_EQ(view.rows, (std::vector<Row>{{0, 0, 32767}}));
    EXPECT_EQ(ReadFile(paths.at(0)), ReadFile(src));
}

// Digital silence has no gain: refused before the question, the source
// closed, nothing written. Dither of ±1 is scaled to full scale as ever.
TEST(Normalize, SilenceIsRefusedAndClosesTheSourceWhileDitherIsScaled) {
    const struct {
        std::int16_t level;
        const char* code;  // of the failure; empty: written
    } cases[] = {{0, "silent-file"}, {1, ""}, {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        TempDir dir;
        std::string src = Signal(1, 10, c.level).write(dir);
        WaveInfo info = Analysed(src);
        auto openFiles = [] { return FilesIn("/proc/self/fd").size(); };
        const std::size_t before = openFiles();
        RecordingView view;
        AskingHost host;
        std::vector<std::string> paths;
        EXPECT_EQ(CodeOf(ErrorOf([&] {
                      paths = Normalize(info, {src, dir.path()}, view, host);
                  })),
                  *c.code ? c.code : "(no error)");
        EXPECT_EQ(openFiles(), before);
        EXPECT_EQ(view.label, "ピーク値:" + std::to_string(std::abs(c.level)) + " ");
        EXPECT_EQ(host.questions.size(), *c.code ? 0u : 1u);
        EXPECT_EQ(FilesIn(dir.path()).size(), *c.code ? 1u : 2u);
        if (*c.code) continue;
        const auto out = SamplesOf(ReadFile(paths.at(0)), 44);
        EXPECT_EQ(out.at(0), c.level * 32767);
        EXPECT_EQ(out.at(1), -c.level * 32767);
    }
}

TEST(Normalize, FileShortenedBeforeScalingIsRefusedWithNoOutput) {
    TempDir dir;
    Signal sig(3, 20, 1000);
    sig.put(0.1, 0, 16384);
    std::string src = sig.write(dir);
    Bytes whole = ReadFile(src);
    RecordingView view;
    AskingHost host;
    host.onAsk = [&] { WriteFile(src, Slice(whole, 0, 44 + 1500 * 4)); };
    // The gain was found in the frames that are gone: none is applied.
    EXPECT_EQ(CodeOfFailure([&] { Normalize(Analysed(src), {src, dir.path()}, view, host); }), "source-changed " + src);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
}

TEST(Normalize, EmptyFieldShowsNothingAndOtherFilesAreRefused) {
    TempDir dir;
    Signal sig(0, 10);
    std::string src = sig.write(dir);
    WaveInfo info = Analysed(src);
    RecordingView view;
    AskingHost host;
    EXPECT_TRUE(Normalize(info, {"", dir.path()}, view, host).empty());
    EXPECT_THROW(Normalize(info, {dir.file("other.wav"), dir.path()}, view, host), VelmoraError);
    EXPECT_EQ(view.shown, 0);
    EXPECT_TRUE(host.questions.empty());
}
