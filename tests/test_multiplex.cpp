// The multiplex list and writer: registration, the written headers and the
// samples of every channel, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "ops/multiplex.h"
#include "error_of.h"
#include "io/file.h"
#include "wav/error.h"
#include "wav/text.h"
#include "wav/records.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr std::uint32_t kRate = 100;  // low rate: seconds of a few hundred bytes
const char* const kNames[kChannelRows] = {"L.wav", "R.wav", "C.wav", "LFE.wav", "SL.wav", "SR.wav"};

// Mono sample bytes that differ from row to row.
Bytes MonoSamples(std::size_t frames, int width, int id) {
    Bytes b;
    const auto seed = static_cast<std::size_t>(id) * 53;
    for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t k = 0; k < static_cast<std::size_t>(width); ++k)
            b.push_back(static_cast<std::uint8_t>((seed + f * 7 + k * 101 + (f >> 8) * 13 + 1) & 0xFF));
    return b;
}

WavBuilder Mono(std::size_t frames, int id, std::uint16_t bits = 16, std::uint16_t width = 2,
                std::uint32_t rate = kRate) {
    WavBuilder b;
    b.channels = 1;
    b.samplesPerSec = rate;
    b.bitsPerSample = bits;
    b.blockAlign = width;
    b.samples = MonoSamples(frames, width, id);
    return b;
}

// The written file, its header fields and where its samples start.
struct Output {
    Bytes bytes;
    std::uint32_t riffSize, fmtSize, rate, avg, mask = 0, dataSize;
    std::uint16_t formatTag, channels, blockAlign, bits, validBits = 0;
    std::size_t dataStart;
    bool cue = false;

    explicit Output(const std::string& path) : bytes(ReadFile(path)) {
        riffSize = ReadU32(bytes, 4);
        fmtSize = ReadU32(bytes, 16);
        formatTag = ReadU16(bytes, 20);
        channels = ReadU16(bytes, 22);
        rate = ReadU32(bytes, 24);
        avg = ReadU32(bytes, 28);
        blockAlign = ReadU16(bytes, 32);
        bits = ReadU16(bytes, 34);
        std::size_t pos = 20 + fmtSize;
        if (fmtSize == 40) {
            EXPECT_EQ(ReadU16(bytes, 36), 22);
            validBits = ReadU16(bytes, 38);
            mask = ReadU32(bytes, 40);
            EXPECT_EQ(ReadU16(bytes, 44), 1);
            EXPECT_TRUE(std::equal(kExtensibleTail.begin(), kExtensibleTail.end(), bytes.begin() + 46));
        }
        if (std::memcmp(bytes.data() + pos, "cue ", 4) == 0) {
            auto block = CueBlock();
            EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + static_cast<long>(pos)));
            cue = true;
            pos += block.size();
        }
        EXPECT_EQ(std::memcmp(bytes.data() + pos, "data", 4), 0);
        dataSize = ReadU32(bytes, pos + 4);
        dataStart = pos + 8;
        EXPECT_EQ(bytes.size(), dataStart + dataSize);
        EXPECT_EQ(riffSize, bytes.size() - 8);
    }

    // Channel c of every frame holds sources[c]'s samples; nullptr = silence.
    void ExpectChannels(const std::vector<const Bytes*>& sources, std::size_t width) const {
        ASSERT_EQ(sources.size(), channels);
        const std::size_t frames = dataSize / (channels * width);
        ASSERT_EQ(frames * channels * width, dataSize);
        for (std::size_t c = 0; c < sources.size(); ++c) {
            Bytes got;
            for (std::size_t f = 0; f < frames; ++f) {
                auto at = bytes.begin() + static_cast<long>(dataStart + (f * channels + c) * width);
                got.insert(got.end(), at, at + static_cast<long>(width));
            }
            Bytes want = sources[c] ? Bytes(sources[c]->begin(), sources[c]->begin() + static_cast<long>(got.size()))
                                    : Bytes(got.size(), 0);
            EXPECT_EQ(got, want) << "channel " << c;
        }
    }
};

class MuxTest : public ::testing::Test {
protected:
    MuxTest() { options.outputFolder = dir.path(); }

    std::string Register(int row, const WavBuilder& b, const std::string& name = "") {
        std::string path = dir.write(name.empty() ? kNames[row] : name, b.Build());
        ChannelRegistration reg = RegisterChannelFile(row, path, info, list);
        EXPECT_TRUE(reg.registered) << path;
        samples[static_cast<std::size_t>(row)] = b.samples;
        return path;
    }
    std::string Register(int row, std::size_t frames) { return Register(row, Mono(frames, row)); }

    std::string Write() {
        auto paths = WriteMultiplex(list, options, host);
        EXPECT_EQ(paths.size(), 1u);
        return paths.at(0);
    }
    // `code` as CodeOf gives it: the code, and the file it names if any.
    void ExpectRefused(const std::string& code) {
        try {
            WriteMultiplex(list, options, host);
            ADD_FAILURE() << "no refusal";
        } catch (const VelmoraError& e) {
            EXPECT_EQ(CodeOf(e.what()), code);
        }
        EXPECT_FALSE(HasOutput()) << "a refused run created a file";
        EXPECT_TRUE(host.logLines.empty());
    }
    bool HasOutput() const {
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find("(mux)") != std::string::npos) return true;
        return false;
    }
    const Bytes* S(int row) const { return &samples[static_cast<std::size_t>(row)]; }

    TempDir dir;
    WaveInfo info;
    ChannelList list;
    RecordingHost host;
    MultiplexOptions options;
    std::array<Bytes, kChannelRows> samples;
};

TEST_F(MuxTest, RegistrationFillsTheRow) {
    std::string path = Register(0, Mono(44100, 0, 16, 2, 44100));
    const ChannelRow& row = list.at(0);
    ASSERT_TRUE(row.registered());
    const ChannelEntry& e = *row.entry;
    EXPECT_EQ(e.path, path);
    EXPECT_EQ(e.samplesPerSec, 44100);
    EXPECT_EQ(e.bitsPerSample, 16);
    EXPECT_EQ(e.channels, 1);
    EXPECT_EQ(e.frames, 44100u);
    EXPECT_EQ(e.dataSize, 88200u);
    EXPECT_EQ(e.dataChunkPos, 36);
    EXPECT_EQ(e.format.format.blockAlign, 2);
    EXPECT_TRUE(row.checked);
    EXPECT_EQ(row.inputPath(), path);

    // A second registration replaces the first and sets the check box again.
    list.setChecked(0, false);
    std::string other = Register(0, Mono(10, 0), "other.wav");
    EXPECT_EQ(list.at(0).entry->path, other);
    EXPECT_EQ(list.at(0).entry->dataSize, 20u);
    EXPECT_EQ(list.at(0).entry->samplesPerSec, 100);
    EXPECT_TRUE(list.at(0).checked);
}

TEST_F(MuxTest, RefusedRegistrationsLeaveTheRow) {
    Register(2, 50);
    const ChannelRow before = list.at(2);
    auto same = [&] {
        const ChannelRow& now = list.at(2);
        return now.registered() && now.entry->path == before.entry->path &&
               now.entry->dataSize == before.entry->dataSize && now.checked == before.checked;
    };

    WavBuilder stereo;
    stereo.samples = PatternSamples(30, 2, 2);
    ChannelRegistration reg = RegisterChannelFile(2, dir.write("stereo.wav", stereo.Build()), info, list);
    EXPECT_FALSE(reg.registered);
    EXPECT_EQ(CodeOf(reg.refusal.value_or("")), "mono-only");
    ASSERT_TRUE(reg.analysis.report.has_value());  // the window shows the stereo file's report
    EXPECT_EQ(info.format.channels, 2);
    EXPECT_TRUE(same());

    // A rejected analysis leaves the previous file's numbers in WaveInfo; they
    // must not reach the row, and the analysis has already said why.
    reg = RegisterChannelFile(2, dir.write("junk.wav", Bytes{'J', 'U', 'N', 'K', 0, 0, 0, 0}), info, list);
    EXPECT_FALSE(reg.registered);
    EXPECT_FALSE(reg.refusal.has_value());
    EXPECT_EQ(reg.analysis.stop, AnalysisStop::NoRiff);
    EXPECT_TRUE(same());

    EXPECT_THROW(RegisterChannelFile(2, dir.file("missing.wav"), info, list), VelmoraError);
    EXPECT_TRUE(same());

    ClearChannelList(list);
    for (int i = 0; i < kChannelRows; ++i) {
        const ChannelRow& r = list.at(i);
        EXPECT_FALSE(r.entry.has_value());
        EXPECT_FALSE(r.checked);
        EXPECT_FALSE(r.registered());
    }
    EXPECT_STREQ(ChannelCaption(0), "Left");
    EXPECT_STREQ(ChannelCaption(5), "S-Right");
}

TEST_F(MuxTest, LeftRightIsPlainWithEitherHeaderOption) {
    std::string l = Register(0, 230), r = Register(1, 230);
    for (bool ex : {true, false}) {
        options.extensible = ex;
        options.cue = ex;  // no cue in the plain form
        host = RecordingHost{};
        std::string out = Write();
        EXPECT_EQ(out, dir.file("L(mux).wav"));
        Output o(out);
        EXPECT_EQ(o.dataStart, 44u);
        EXPECT_EQ(o.fmtSize, 16u);
        EXPECT_EQ(o.formatTag, 1);
        EXPECT_EQ(o.channels, 2);
        EXPECT_EQ(o.rate, kRate);
        EXPECT_EQ(o.avg, 2 * kRate * 2);
        EXPECT_EQ(o.blockAlign, 4);
        EXPECT_EQ(o.bits, 16);
        EXPECT_EQ(o.dataSize, 230u * 4);
        o.ExpectChannels({S(0), S(1)}, 2);
        EXPECT_EQ(host.logLines, (std::vector<std::string>{out, "00padding", l, r, "end"}));
        EXPECT_EQ(host.lastProgress, 100);
        // Two seconds and the remainder, written once each.
        EXPECT_EQ(host.pumps, 3);
    }
}

TEST_F(MuxTest, AllSixExtensibleWithAndWithoutCue) {
    for (int row = 0; row < kChannelRows; ++row) Register(row, 230);
    std::string out = Write();
    EXPECT_EQ(out, dir.file("L(EX)(mux).wav"));
    Output o(out);
    EXPECT_EQ(o.dataStart, 68u);
    EXPECT_EQ(o.formatTag, 0xFFFE);
    EXPECT_EQ(o.channels, 6);
    EXPECT_EQ(o.mask, 0x3Fu);
    EXPECT_EQ(o.validBits, 16);
    EXPECT_EQ(o.blockAlign, 12);
    EXPECT_EQ(o.riffSize, o.dataSize + 60);
    EXPECT_FALSE(o.cue);
    o.ExpectChannels({S(0), S(1), S(2), S(3), S(4), S(5)}, 2);

    options.cue = true;
    Output withCue(Write());
    EXPECT_TRUE(withCue.cue);
    EXPECT_EQ(withCue.dataStart, 128u);
    EXPECT_EQ(withCue.riffSize, o.dataSize + 120);
    EXPECT_TRUE(std::equal(o.bytes.begin() + 68, o.bytes.end(), withCue.bytes.begin() + 128));
}

TEST_F(MuxTest, FrontAndRearPairs) {
    for (int row : {0, 1, 4, 5}) Register(row, 130);
    Output ex(Write());
    EXPECT_EQ(ex.channels, 4);
    EXPECT_EQ(ex.mask, 0x33u);
    ex.ExpectChannels({S(0), S(1), S(4), S(5)}, 2);

    options.extensible = false;
    std::string out = Write();
    EXPECT_EQ(out, dir.file("L(mux).wav"));
    Output plain(out);
    EXPECT_EQ(plain.fmtSize, 16u);
    EXPECT_EQ(plain.channels, 6);
    plain.ExpectChannels({S(0), S(1), nullptr, nullptr, S(4), S(5)}, 2);
}

TEST_F(MuxTest, OnlyCenterExtensible) {
    Register(2, 150);
    std::string out = Write();
    EXPECT_EQ(out, dir.file("C(EX)(mux).wav"));
    Output o(out);
    EXPECT_EQ(o.channels, 1);
    EXPECT_EQ(o.mask, 0x4u);
    EXPECT_EQ(o.blockAlign, 2);
    o.ExpectChannels({S(2)}, 2);
}

TEST_F(MuxTest, OnlyRightPlainLeavesLeftSilent) {
    Register(1, 150);
    options.extensible = false;
    Output o(Write());
    EXPECT_EQ(o.channels, 2);
    o.ExpectChannels({nullptr, S(1)}, 2);

    // No row checked with the plain option: a silent two-channel file.
    list.setChecked(1, false);
    host = RecordingHost{};
    std::string out = Write();
    Output silent(out);
    EXPECT_EQ(silent.dataSize, 150u * 4);
    silent.ExpectChannels({nullptr, nullptr}, 2);
    EXPECT_EQ(host.logLines, (std::vector<std::string>{out, "00padding", "end"}));
}

TEST_F(MuxTest, ShortestRegisteredFileWinsEvenUnchecked) {
    Register(0, 230);
    Register(1, 300);
    Register(2, 170);
    list.setChecked(2, false);  // still counts for the length, not for the centre flag
    std::string out = Write();
    EXPECT_EQ(out, dir.file("L(mux).wav"));
    Output o(out);
    EXPECT_EQ(o.dataSize, 170u * 4);
    o.ExpectChannels({S(0), S(1)}, 2);
}

TEST_F(MuxTest, UncheckedRowWithAnotherRateStopsTheRun) {
    Register(0, 230);
    Register(1, Mono(230, 1, 16, 2, 200));
    list.setChecked(1, false);
    ExpectRefused("format-mismatch");
    // The resolution counts as much as the rate, and so does the frame size.
    Register(1, Mono(230, 1, 8, 1));
    ExpectRefused("format-mismatch");
    // A frame size that is not the sample's width is refused at registration
    // (its channel used to come out as silence); the row keeps its file.
    const std::string wide = dir.write("wide.wav", Mono(115, 1, 16, 4).Build());
    ChannelRegistration reg = RegisterChannelFile(1, wide, info, list);
    EXPECT_FALSE(reg.registered);
    EXPECT_EQ(CodeOf(reg.refusal.value_or("")), "row-frame");
    EXPECT_NE(list.at(1).inputPath(), wide);
}

TEST_F(MuxTest, CommonLengthUnderOneSecond) {
    Register(0, 40);
    Register(1, 60);
    Output o(Write());
    EXPECT_EQ(o.dataSize, 40u * 4);
    o.ExpectChannels({S(0), S(1)}, 2);
    EXPECT_EQ(host.progressCalls, 0);
    EXPECT_EQ(host.pumps, 1);  // once before the zero remainder

    // A trailing half frame is left out, so the header promises only bytes
    // that are written.
    WavBuilder odd = Mono(40, 0);
    odd.samples.push_back(0x55);
    Register(0, odd);
    Output whole(Write());
    EXPECT_EQ(whole.dataSize, 40u * 4);
    whole.ExpectChannels({S(0), S(1)}, 2);
}

TEST_F(MuxTest, InputCutShortAfterRegistration) {
    std::string l = Register(0, 230);
    std::string r = Register(1, 230);
    Register(2, 230);
    const std::string out = dir.file("L(EX)(mux).wav");
    // Cut inside the second whole second, then inside the remainder: either
    // way the file is no longer the one registered.
    for (std::size_t keepFrames : {150u, 210u}) {
        WriteFile(r, Mono(230, 1).Build());
        std::filesystem::resize_file(r, 44 + keepFrames * 2);
        host = RecordingHost{};
        try {
            Write();
            ADD_FAILURE() << "a short input was reported as done";
        } catch (const VelmoraError& e) {
            EXPECT_EQ(CodeOf(e.what()), "source-changed " + r);
        }
        // The log runs as far as the short row (the rows after it are never
        // reached), and the failed run leaves no output at all: only the three
        // inputs are in the folder.
        EXPECT_EQ(host.logLines, (std::vector<std::string>{out, "00padding", l, r}));
        EXPECT_FALSE(HasOutput());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
    }
}

TEST_F(MuxTest, SampleWidthsOneToFour) {
    struct Case {
        std::uint16_t bits, width, headerBits, validBits;
    };
    for (Case c : {Case{8, 1, 8, 8}, {16, 2, 16, 16}, {24, 3, 24, 24}, {20, 3, 24, 20}, {32, 4, 32, 32}}) {
        SCOPED_TRACE(c.bits);
        ClearChannelList(list);
        Register(0, Mono(130, 0, c.bits, c.width));
        Register(2, Mono(130, 2, c.bits, c.width));
        Output ex(Write());
        EXPECT_EQ(ex.mask, 0x5u);
        EXPECT_EQ(ex.bits, c.headerBits);  // 20-bit samples in 24-bit containers
        EXPECT_EQ(ex.validBits, c.validBits);
        EXPECT_EQ(ex.blockAlign, 2 * c.width);
        ex.ExpectChannels({S(0), S(2)}, c.width);

        options.extensible = false;
        Output plain(Write());
        EXPECT_EQ(plain.bits, c.bits);
        plain.ExpectChannels({S(0), nullptr, S(2), nullptr, nullptr, nullptr}, c.width);
        options.extensible = true;
    }
}

TEST_F(MuxTest, FormatComesFromTheFirstRegisteredFile) {
    Register(0, 230);
    Register(1, 230);
    // A stereo 24-bit file analysed afterwards (refused here) leaves WaveInfo
    // describing it; the output still describes the registered mono files.
    WavBuilder other;
    other.bitsPerSample = 24;
    other.samplesPerSec = 48000;
    other.samples = PatternSamples(10, 2, 3);
    EXPECT_FALSE(RegisterChannelFile(2, dir.write("other.wav", other.Build()), info, list).registered);
    Output o(Write());
    EXPECT_EQ(o.rate, kRate);
    EXPECT_EQ(o.bits, 16);
    EXPECT_EQ(o.blockAlign, 4);
    EXPECT_EQ(o.avg, 4 * kRate);
    o.ExpectChannels({S(0), S(1)}, 2);
}

// A host whose pending messages change the list, as a user's clicks would.
struct ClickingHost : RecordingHost {
    std::function<void()> onFirstPump;
    void pumpMessages() override {
        if (pumps == 0 && onFirstPump) onFirstPump();
        RecordingHost::pumpMessages();
    }
};

TEST_F(MuxTest, RefusalsBeforeAnythingIsWritten) {
    ExpectRefused("no-channel-files");

    std::string l = Register(0, 230);
    list.setChecked(0, false);
    ExpectRefused("no-channel-files");  // zero channels
    list.setChecked(0, true);

    list.setChecked(3, true);  // a checked row without a file
    ExpectRefused(std::string("cannot-open ") + "  ");
    list.setChecked(3, false);

    std::string r = Register(1, 230);
    std::filesystem::remove(r);
    ExpectRefused("cannot-open " + r);

    // An input named like the output, checked or not, is never overwritten.
    Register(1, Mono(230, 1), "L(mux).wav");
    list.setChecked(1, false);
    Bytes before = ReadFile(dir.file("L(mux).wav"));
    try {
        WriteMultiplex(list, options, host);
        ADD_FAILURE();
    } catch (const VelmoraError& e) {
        EXPECT_EQ(CodeOf(e.what()), "output-is-input");
    }
    EXPECT_EQ(ReadFile(dir.file("L(mux).wav")), before);
    ClearChannelList(list);
    std::filesystem::remove(dir.file("L(mux).wav"));

    // Three rows claiming 1.33 GiB each: the data size just passes 32 bits,
    // so the output is headed RF64. The run is stopped at its first pause,
    // once the header is written (looked at under its temporary name),
    // instead of padding 4 GiB; the stopped run leaves no output.
    WavBuilder huge = Mono(10, 0);
    huge.dataSize = 0x55555556u;
    huge.riffSize = 0x55555556u + 36;
    for (int row : {0, 1, 2}) Register(row, huge);
    AllowUnnamedOutputs(false);
    int headers = 0;
    ClickingHost stopping;
    stopping.onFirstPump = [&] {
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            if (e.path().filename().string()[0] != '.') continue;
            ++headers;
            std::ifstream in(e.path(), std::ios::binary);
            Bytes head(48);
            in.read(reinterpret_cast<char*>(head.data()), 48);
            EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
            EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "ds64");
            EXPECT_EQ(ReadU32(head, 28) | (std::uint64_t{ReadU32(head, 32)} << 32), 0x55555556ull / 2 * 6);
        }
        throw VelmoraError("stopped");
    };
    try {
        WriteMultiplex(list, options, stopping);
        ADD_FAILURE() << "not stopped";
    } catch (const VelmoraError& e) {
        EXPECT_STREQ(e.what(), "stopped");
    }
    AllowUnnamedOutputs(true);
    EXPECT_EQ(headers, 1);
    EXPECT_FALSE(HasOutput());
}

TEST_F(MuxTest, RowsAreReadOnceAtTheStart) {
    std::string l = Register(0, 230), r = Register(1, 230), c = Register(2, 230);
    std::string sr = Register(5, 230);
    list.setChecked(5, false);
    ClickingHost clicking;
    clicking.onFirstPump = [&] {
        list.setChecked(1, false);
        list.setChecked(5, true);
    };
    auto paths = WriteMultiplex(list, options, clicking);
    Output o(paths.at(0));
    // Clicks while the run pumps messages no longer reach it: the rows
    // checked at the start fill the channels.
    EXPECT_EQ(o.channels, 3);
    EXPECT_EQ(o.mask, 0x7u);
    o.ExpectChannels({S(0), S(1), S(2)}, 2);
    EXPECT_EQ(clicking.logLines, (std::vector<std::string>{paths[0], "00padding", l, r, c, "end"}));

    // A row checked after the start is not part of the run.
    for (bool ex : {true, false}) {
        options.extensible = ex;
        list.setChecked(1, true);
        list.setChecked(2, false);
        list.setChecked(5, false);
        ClickingHost late;
        late.onFirstPump = [&] { list.setChecked(2, true); };
        Output two(WriteMultiplex(list, options, late).at(0));
        EXPECT_EQ(two.channels, 2);
        two.ExpectChannels({S(0), S(1)}, 2);
        EXPECT_EQ(late.logLines.back(), "end");
    }

    // A row registered meanwhile with another rate: the run goes on with the
    // file registered at its start.
    list.setChecked(2, false);
    ClickingHost changing;
    changing.onFirstPump = [&] {
        RegisterChannelFile(1, dir.write("fast.wav", Mono(230, 1, 16, 2, 400).Build()), info, list);
    };
    const std::string keptPath = WriteMultiplex(list, options, changing).at(0);
    Output(keptPath).ExpectChannels({S(0), S(1)}, 2);
    EXPECT_EQ(changing.logLines, (std::vector<std::string>{keptPath, "00padding", l, r, "end"}));
}

TEST_F(MuxTest, SixChannelsMatchSoxMerge) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
    std::string cmd = "sox -D -M";
    for (int row = 0; row < kChannelRows; ++row) cmd += " '" + Register(row, Mono(2300, row, 16, 2, 1000)) + "'";
    std::string raw = dir.file("sox.raw");
    cmd += " -t raw '" + raw + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Output o(Write());
    EXPECT_EQ(o.mask, 0x3Fu);
    Bytes expected = ReadFile(raw);
    ASSERT_EQ(expected.size(), o.dataSize);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), o.bytes.begin() + static_cast<long>(o.dataStart)));
}

}  // namespace
