// Recordings without a usable header: the format guessed from the samples,
// the audio found between junk, the rescue with a healthy file's header, and
// the realignment after a lost or extra byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <random>
#include <utility>

#include "cli_runner.h"
#include "error_of.h"
#include "ops/catalogue.h"
#include "ops/rescue.h"
#include "recording_host.h"
#include "rescue_signals.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav_builder.h"

namespace velmora::test {
namespace {

Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const auto& p : parts) AppendBytes(r, p);
    return r;
}

struct DetectCase {
    Signal signal;
    int channels;
    const char* encoding;  // sox's name
    int bits;
    std::uint32_t offset;  // junk bytes before the first frame
};

SampleEncoding EncodingOfSox(const DetectCase& c) {
    return EncodingOf(c.bits, std::string(c.encoding) == "floating-point");
}

TEST(FormatDetection, RanksTheRecordedFormatFirstAndSaysWhenNotSure) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    const DetectCase cases[] = {
        {Signal::Speech, 1, "signed", 16, 0},         {Signal::Speech, 1, "signed", 16, 1},
        {Signal::Speech, 2, "signed", 16, 3},         {Signal::Speech, 2, "signed", 24, 0},
        {Signal::Speech, 6, "signed", 24, 5},         {Signal::Speech, 1, "unsigned", 8, 0},
        {Signal::Speech, 2, "floating-point", 32, 4}, {Signal::Speech, 4, "signed", 32, 9},
        {Signal::Music, 1, "signed", 16, 0},          {Signal::Music, 2, "signed", 16, 2},
        {Signal::Music, 2, "signed", 24, 1},          {Signal::Music, 4, "signed", 16, 5},
        {Signal::Music, 2, "signed", 32, 3},          {Signal::Music, 8, "signed", 16, 0},
        {Signal::Music, 1, "floating-point", 32, 1},  {Signal::Music, 6, "floating-point", 32, 7},
        {Signal::Noise, 1, "signed", 16, 0},          {Signal::Noise, 2, "signed", 16, 1},
        {Signal::Noise, 2, "unsigned", 8, 1},         {Signal::Noise, 4, "signed", 24, 7},
        {Signal::Noise, 1, "signed", 32, 2},          {Signal::Noise, 8, "signed", 24, 13},
        {Signal::Quiet, 1, "signed", 16, 1},          {Signal::Quiet, 2, "signed", 16, 0},
        {Signal::Quiet, 2, "signed", 24, 4},          {Signal::Quiet, 6, "signed", 16, 3},
        {Signal::Quiet, 1, "floating-point", 32, 0},  {Signal::Quiet, 4, "signed", 16, 6},
    };
    TempDir dir;
    int right = 0, total = 0;
    std::cout << "| signal | format | offset | ranked first | score | confidence | verdict |\n";
    for (const auto& c : cases) {
        const RawSampleFormat expected{c.channels, EncodingOfSox(c)};
        SCOPED_TRACE(std::string(SignalName(c.signal)) + " " + FormatLabel(expected) + " +" + std::to_string(c.offset));
        const Bytes audio = SoxRaw(dir, c.signal, c.channels, c.encoding, c.bits);
        ASSERT_FALSE(audio.empty());
        const std::string path = dir.write("case.raw", Join({Junk(c.offset, c.offset + 7), audio}));
        File file = File::OpenRead(path);
        const Detection d = DetectAudio(file);
        ASSERT_FALSE(d.ranked.empty());
        const FormatGuess& top = d.ranked.front();
        const bool ok = top.format == expected && top.alignment == c.offset;
        right += ok;
        ++total;
        std::cout << "| " << SignalName(c.signal) << " | " << FormatLabel(expected) << " | " << c.offset << " | "
                  << FormatLabel(top.format) << " +" << top.alignment << " | " << top.score << " | "
                  << std::lround(top.confidence * 100) << " % | " << (d.sure ? "sure" : "not sure") << " |\n";
        if (d.sure) {
            EXPECT_TRUE(ok) << "a sure answer must never be a wrong one";
        } else {
            // Not sure: the rescue refuses instead of guessing, and writes nothing.
            RecordingHost host;
            RescueOptions options;
            options.source = path;
            try {
                RescueRecording(options, host);
                ADD_FAILURE() << "rescued although not sure";
            } catch (const VelmoraError& e) {
                EXPECT_EQ(ErrorCodeOf(e.what()), "format-not-sure");
            }
            EXPECT_EQ(FileSizeOf(dir.file("case(rescue).wav")), -1);
        }
    }
    std::cout << "ranked first: " << right << " of " << total << "\n";
    EXPECT_GE(right * 100, total * 95);
}

// The base recordings, made once for the binary.
const std::vector<float>& Recording(Source source) {
    static TempDir dir;
    static std::vector<std::vector<float>> made(std::size(kSources));
    auto& x = made[static_cast<std::size_t>(source)];
    if (x.empty()) x = MonoSource(dir, source);
    return x;
}

enum class Verdict { Right, NotSure, Wrong };

// Each recording in each channel count and storage, junk of random length
// before and after: the detection must be right or say it is not sure,
// never wrong, and right nearly always.
TEST(FormatDetection, RightOrNotSureNeverWrongOnRecordingsBetweenJunk) {
    if (!HaveSox() || !HaveEspeak()) GTEST_SKIP() << "sox or espeak-ng not installed";
    TempDir dir;
    std::mt19937 random(34);
    int counts[3] = {};
    std::cout << "| signal | channels | storage | junk before | verdict |\n";
    for (Source source : kSources) {
        const std::vector<float>& mono = Recording(source);
        ASSERT_GT(mono.size(), 10000u) << SourceName(source);
        for (int channels : {1, 2, 6}) {
            for (const Storage& storage : kStorages) {
                // A tone at -50 dBFS rounds to silence in 8 bits: nothing to detect.
                if (source == Source::Tone && storage.bits == 8) continue;
                const std::size_t before = random() % 3000, after = random() % 3000;
                const Bytes audio = Interleave(mono, channels, storage);
                const std::string path =
                    dir.write("case.raw", Join({Junk(before, random()), audio, Junk(after, random())}));
                const RawSampleFormat expected{channels, EncodingOf(storage.bits, storage.isFloat)};
                File file = File::OpenRead(path);
                const Detection d = DetectAudio(file);
                const bool match =
                    !d.ranked.empty() && d.ranked.front().format == expected &&
                    d.ranked.front().alignment == before % static_cast<std::size_t>(expected.frameSize());
                const Verdict v = !d.sure ? Verdict::NotSure : match ? Verdict::Right : Verdict::Wrong;
                ++counts[static_cast<int>(v)];
                if (v != Verdict::Right)
                    std::cout << "| " << SourceName(source) << " | " << channels << " | " << storage.name << " | "
                              << before << " | " << (v == Verdict::Wrong ? "wrong: " : "not sure: ")
                              << (d.ranked.empty() ? "-"
                                                   : FormatLabel(d.ranked.front().format) + " +" +
                                                         std::to_string(d.ranked.front().alignment))
                              << " |\n";
                EXPECT_NE(v, Verdict::Wrong) << SourceName(source) << " " << channels << "ch " << storage.name;
            }
        }
    }
    const int total = counts[0] + counts[1] + counts[2];
    std::cout << "right " << counts[0] << ", not sure " << counts[1] << ", wrong " << counts[2] << " of " << total
              << "\n";
    EXPECT_GE(total, 60);
    EXPECT_GE(counts[0] * 100, total * 95);
}

// Two layouts that other channel counts read as smoothly: the same sound
// on every channel (runs of equal samples) and 16-bit sound padded into
// 32-bit samples (a channel of zeros beside the sound). The first has one
// right answer, the second two readings the bytes cannot tell apart.
TEST(FormatDetection, SameSoundOnEveryChannelAndPaddedSamplesAreNeverMisread) {
    if (!HaveSox() || !HaveEspeak()) GTEST_SKIP() << "sox or espeak-ng not installed";
    TempDir dir;
    constexpr Storage kPadded16{"16-in-32", 32, false, 16};
    struct Case {
        Source source;
        int channels;
        Storage storage;
        bool mustBeRight;
    };
    for (const Case& c : {Case{Source::Speech, 2, kStorages[1], true}, Case{Source::Plucks, 6, kStorages[1], true},
                          Case{Source::Speech, 2, kStorages[5], true}, Case{Source::Brown, 2, kStorages[2], false},
                          Case{Source::Speech, 1, kPadded16, false}, Case{Source::Plucks, 2, kPadded16, false}}) {
        const Bytes mono = Interleave(Recording(c.source), 1, c.storage);
        const std::size_t width = static_cast<std::size_t>(c.storage.bits / 8);
        Bytes audio;
        for (std::size_t at = 0; at + width <= mono.size(); at += width)
            for (int k = 0; k < c.channels; ++k) audio.insert(audio.end(), &mono[at], &mono[at] + width);
        const std::size_t before = 1000 + width;
        File file = File::OpenRead(dir.write("case.raw", Join({Junk(before, 5), audio, Junk(700, 6)})));
        const Detection d = DetectAudio(file);
        const RawSampleFormat expected{c.channels, EncodingOf(c.storage.bits, c.storage.isFloat)};
        const bool right = !d.ranked.empty() && d.ranked.front().format == expected;
        SCOPED_TRACE(std::string(SourceName(c.source)) + " " + std::to_string(c.channels) + "ch " + c.storage.name);
        EXPECT_TRUE(!d.sure || right);
        if (c.mustBeRight) {
            EXPECT_TRUE(d.sure && right);
        }
    }
}

// The healthy file and the broken one come from the same recorder: one
// format, different sounds.
struct LikeCase {
    const char* name;
    int channels;
    int bits;
    enum Damage { Zeroed, Overwritten, Missing } damage;
    std::size_t partialFrame;  // bytes of an unfinished frame at the end
};

TEST(Rescue, TakesFormatAndHeaderFromAHealthyRecording) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    const LikeCase cases[] = {
        {"zeroed, stereo 16-bit, cut mid-frame", 2, 16, LikeCase::Zeroed, 3},
        {"overwritten, stereo 16-bit", 2, 16, LikeCase::Overwritten, 0},
        {"zeroed, 4ch 24-bit extensible", 4, 24, LikeCase::Zeroed, 5},
        {"missing, mono 16-bit", 1, 16, LikeCase::Missing, 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string good = dir.file("good.wav");
        const std::string make = "sox -R -n -r 44100 -e signed -b " + std::to_string(c.bits) + " '" + good +
                                 "' synth 2 sine 440 remix" + std::string(c.channels > 1 ? " 1v0.8" : "") +
                                 (c.channels > 2 ? " 1v0.6 1v0.5" : "") + " 1v0.7 2>/dev/null";
        ASSERT_EQ(std::system(make.c_str()), 0);
        WaveInfo goodInfo;
        ASSERT_TRUE(AnalyzeWave(good, goodInfo).complete());
        const std::size_t headerSize = static_cast<std::size_t>(goodInfo.dataChunkPos) + 8;
        const Bytes goodBytes = ReadFile(good);

        const Bytes samples = SoxRaw(dir, Signal::Speech, c.channels, "signed", c.bits, 2, 44100);
        Bytes header(headerSize, 0);
        if (c.damage == LikeCase::Overwritten) header = Junk(headerSize, 3);
        if (c.damage == LikeCase::Missing) header.clear();
        const std::string broken = dir.write("broken.wav", Join({header, samples, Junk(c.partialFrame, 5)}));
        const Bytes before = ReadFile(broken);

        RecordingHost host;
        RescueOptions options;
        options.source = broken;
        options.like = good;
        RescueReport report;
        const auto out = RescueRecording(options, host, &report);
        ASSERT_EQ(out, std::vector<std::string>{dir.file("broken(rescue).wav")});
        EXPECT_EQ(ReadFile(broken), before);  // only read

        const Bytes rescued = ReadFile(out[0]);
        ASSERT_EQ(rescued.size(), headerSize + samples.size());
        EXPECT_EQ(Slice(rescued, headerSize, samples.size()), samples);
        // The healthy header, sizes aside.
        EXPECT_EQ(Slice(rescued, 8, headerSize - 12), Slice(goodBytes, 8, headerSize - 12));
        WaveInfo info;
        EXPECT_TRUE(AnalyzeWave(out[0], info).complete());
        EXPECT_EQ(info.dataSize, samples.size());
        EXPECT_EQ(report.rateSource, RateSource::Like);
        EXPECT_EQ(report.rate, 44100);

        // A rate given beside the healthy file is the one written.
        options.rate = 22050;
        RescueRecording(options, host, &report);
        ASSERT_TRUE(AnalyzeWave(out[0], info).complete());
        EXPECT_EQ(info.format.samplesPerSec, 22050);
        EXPECT_EQ(info.format.avgBytesPerSec, 22050 * info.format.blockAlign);
    }
}

// A card image: junk, a recording with no header, more junk.
TEST(Rescue, FindsHeaderlessAudioBetweenJunk) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    const Bytes audio = SoxRaw(dir, Signal::Speech, 2, "signed", 16, 3);
    const std::string card = dir.write("card.img", Join({Junk(100003, 1), audio, Junk(77777, 2)}));
    const CliRun run = RunCli("rescue " + Quote(card), dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, dir.file("card(rescue).wav") + "\n");
    EXPECT_NE(run.err.find("rate: 48000 Hz (default)"), std::string::npos) << run.err;
    const Bytes rescued = ReadFile(dir.file("card(rescue).wav"));
    ASSERT_EQ(rescued.size(), 44 + audio.size());
    EXPECT_TRUE(Slice(rescued, 44, audio.size()) == audio);
    WaveInfo info;
    ASSERT_TRUE(AnalyzeWave(dir.file("card(rescue).wav"), info).complete());
    EXPECT_EQ(info.format.channels, 2);
    EXPECT_EQ(info.format.samplesPerSec, 48000);

    // The rate cannot be heard: given, it is the one written.
    const CliRun rated = RunCli("recover --rate 22050 " + Quote(card), dir);
    EXPECT_NE(rated.err.find("rate: 22050 Hz (from --rate)"), std::string::npos) << rated.err;
    ASSERT_TRUE(AnalyzeWave(dir.file("card(rescue).wav"), info).complete());
    EXPECT_EQ(info.format.samplesPerSec, 22050);
}

// The code of the refusal the CLI printed last for `path`.
std::string RefusalCode(const std::string& err, const std::string& path) {
    const std::string prefix = path + ": ";
    const std::size_t at = err.rfind(prefix);
    if (at == std::string::npos) return "(none)";
    const std::size_t end = err.find('\n', at);
    return CodeOf(
        err.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size()));
}

TEST(Rescue, RefusesToGuessUnlessTheFormatIsGiven) {
    TempDir dir;
    const std::string junk = dir.write("junk.bin", Junk(300000, 9));
    // recover never guesses: it names the verb that does.
    const CliRun recover = RunCli("recover " + Quote(junk), dir);
    EXPECT_EQ(recover.status, 1);
    EXPECT_NE(recover.err.find("velmora-cli rescue"), std::string::npos) << recover.err;
    // Random bytes sound like no reading at all: not audio, rather than not sure.
    const CliRun run = RunCli("rescue " + Quote(junk), dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not audio"), std::string::npos) << run.err;
    EXPECT_EQ(RefusalCode(run.err, junk), "not-audio") << run.err;
    EXPECT_EQ(FileSizeOf(dir.file("junk(rescue).wav")), -1);
    const CliRun raw = RunCli("raw2wav --detect " + Quote(junk), dir);
    EXPECT_EQ(raw.status, 1);
    EXPECT_EQ(FileSizeOf(dir.file("junk.bin(wavemaker).wav")), -1);
    // Given a format, the user's word stands.
    const CliRun given = RunCli("raw2wav --detect --mono " + Quote(junk), dir);
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(FileSizeOf(dir.file("junk.bin(wavemaker).wav")), 44 + 300000);
}

// Bytes that are no audio, made by `make` (empty when a tool is missing).
struct NotAudioCase {
    const char* name;
    std::function<Bytes(const TempDir&)> make;
};

Bytes Encoded(const TempDir& dir, const std::string& codecAndFormat) {
    const std::string wav = dir.file("speech.wav"), out = dir.file("stream.bin");
    const std::string cmd = "espeak-ng -w '" + wav +
                            "' 'Not a recording to rescue.' && ffmpeg -loglevel error -y -i '" + wav + "' " +
                            codecAndFormat + " '" + out + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0 ? ReadFile(out) : Bytes{};
}

// `n` bytes of `line` over and over.
Bytes TextOf(const std::string& line, std::size_t n) {
    Bytes b;
    while (b.size() < n) b.insert(b.end(), line.begin(), line.end());
    b.resize(n);
    return b;
}

// Text, silence, random bytes and compressed streams: refused as not audio
// by the rescue and by raw2wav's detection, and nothing is written.
TEST(Rescue, RefusesWhatIsNotAudio) {
    const std::string text = "Velmora inspects and repairs RIFF/WAVE files: this line is text, not samples.\n";
    const NotAudioCase cases[] = {
        {"120 bytes of text", [&](const TempDir&) { return TextOf(text, 120); }},
        {"text", [&](const TempDir&) { return TextOf(text, 150000); }},
        {"zeros", [](const TempDir&) { return Bytes(200000, 0); }},
        {"random bytes", [](const TempDir&) { return Junk(300000, 11); }},
        {"MP3 stream", [](const TempDir& d) { return Encoded(d, "-c:a libmp3lame -b:a 128k -f mp3"); }},
        {"Ogg Vorbis stream", [](const TempDir& d) { return Encoded(d, "-c:a libvorbis -f ogg"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Bytes bytes = c.make(dir);
        if (bytes.empty()) GTEST_SKIP() << "espeak-ng or ffmpeg not installed";
        const std::string path = dir.write("take.bin", bytes);
        RecordingHost host;
        RescueOptions options;
        options.source = path;
        EXPECT_EQ(CodeOfFailure([&] { RescueRecording(options, host); }), "not-audio");
        EXPECT_EQ(CodeOfFailure([&] { RawToWaveDetected(path, std::nullopt, "", host); }), "not-audio");
        // The dry run refuses as the run does, rather than promising a file.
        EXPECT_EQ(CodeOfFailure([&] { CheckRescue(options); }), "not-audio");
        for (const char* verb : {"rescue -n ", "raw2wav --detect -n "}) {
            const CliRun run = RunCli(verb + Quote(path), dir);
            EXPECT_EQ(run.status, 1) << verb;
            EXPECT_EQ(run.out, "") << verb;
        }
        EXPECT_EQ(FileSizeOf(dir.file("take(rescue).wav")), -1);
        EXPECT_EQ(FileSizeOf(dir.file("take.bin(wavemaker).wav")), -1);
    }
}

TEST(Rescue, Raw2WavDetectWritesFormatsTheWrapperCannot) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    const Bytes audio = SoxRaw(dir, Signal::Music, 4, "signed", 24, 2);
    const std::string raw = dir.write("take.raw", Join({Junk(5, 4), audio}));
    const CliRun run = RunCli("raw2wav --detect " + Quote(raw), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("24-bit 4ch"), std::string::npos);
    WaveInfo info;
    const std::string out = dir.file("take.raw(wavemaker).wav");
    ASSERT_TRUE(AnalyzeWave(out, info).complete());
    EXPECT_EQ(info.format.channels, 4);
    EXPECT_EQ(info.format.bitsPerSample, 24);
    EXPECT_EQ(Slice(ReadFile(out), static_cast<std::size_t>(info.dataChunkPos) + 8, audio.size()), audio);
}

// A rescued file's header carries the usual mask of 2, 4 or 6 channels only;
// other counts get none, as nobody told their layout.
TEST(Rescue, WritesAChannelMaskOnlyForTwoFourAndSixChannels) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    const std::pair<int, std::uint32_t> cases[] = {{3, 0}, {4, 0x33}, {6, 0x3F}, {8, 0}};
    for (const auto& [channels, mask] : cases) {
        SCOPED_TRACE(channels);
        TempDir dir;
        const std::string raw = dir.write("take.raw", SoxRaw(dir, Signal::Music, channels, "signed", 16, 1));
        const CliRun run = RunCli("rescue --channels " + std::to_string(channels) + " --bits 16 " + Quote(raw), dir);
        ASSERT_EQ(run.status, 0) << run.err;
        WaveInfo info;
        ASSERT_TRUE(AnalyzeWave(dir.file("take(rescue).wav"), info).complete());
        EXPECT_EQ(info.channelMask, mask);
    }
}

// One byte lost, or one too many, in the middle of a recording.
TEST(Rescue, RealignsAfterALostOrExtraByte) {
    if (!HaveSox()) GTEST_SKIP() << "sox not installed";
    struct Case {
        const char* name;
        int channels;
        const char* encoding;
        int bits;
        bool lost;
    } cases[] = {
        {"lost, stereo 16-bit", 2, "signed", 16, true},
        {"extra, stereo 16-bit", 2, "signed", 16, false},
        {"lost, mono 24-bit", 1, "signed", 24, true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes audio = SoxRaw(dir, Signal::Speech, c.channels, c.encoding, c.bits, 3);
        const std::size_t frame = static_cast<std::size_t>(c.channels * c.bits / 8);
        const std::size_t cutFrame = audio.size() / frame * 4 / 7;
        const std::size_t cut = cutFrame * frame + 1;  // inside the frame
        Bytes damaged = Slice(audio, 0, cut);
        if (!c.lost) damaged.push_back(0x5A);
        AppendBytes(damaged, Slice(audio, c.lost ? cut + 1 : cut, audio.size() - (c.lost ? cut + 1 : cut)));
        const std::string path = dir.write("take.raw", damaged);

        RecordingHost host;
        RescueOptions options;
        options.source = path;
        options.realign = true;
        RescueReport report;
        const auto out = RescueRecording(options, host, &report);
        ASSERT_EQ(report.changes.size(), 1u);
        EXPECT_NEAR(static_cast<double>(report.changes[0].offset), static_cast<double>(cut), 2.0 * frame);
        const Bytes data = Slice(ReadFile(out.at(0)), ReadFile(out[0]).size() - report.dataSize, report.dataSize);
        // Every frame as recorded but the one the byte garbled; the length too.
        ASSERT_EQ(data.size(), audio.size());
        const std::size_t after = (cutFrame + 1) * frame;
        EXPECT_TRUE(Slice(data, 0, cutFrame * frame) == Slice(audio, 0, cutFrame * frame));
        EXPECT_TRUE(Slice(data, after, audio.size() - after) == Slice(audio, after, audio.size() - after));

        // Without --realign the shift is reported, not mended.
        options.realign = false;
        RescueReport plain;
        RescueRecording(options, host, &plain);
        EXPECT_EQ(plain.changes.size(), 1u);
    }
}

// A recording with its own header, intact or with a byte lost in its
// middle, as sox writes it from espeak-ng's speech.
struct HeaderCase {
    const char* name;
    int bits;
    bool lost;
};
constexpr HeaderCase kHeaderCases[] = {{"intact, 16-bit", 16, false},
                                       {"lost byte, 16-bit", 16, true},
                                       {"intact, 24-bit", 24, false},
                                       {"lost byte, 24-bit", 24, true}};

// The recording's samples and the file to test: its header, then the
// samples with one byte cut out two thirds in (sizes zeroed, as a recorder
// that lost power leaves them).
struct HeaderedTake {
    Bytes samples;
    std::size_t header = 0;
    std::size_t cut = 0;  // byte of the samples cut out; 0: none
};

HeaderedTake WriteRecording(const TempDir& dir, const HeaderCase& c, const std::string& name) {
    const std::string speech = dir.file("speech.wav"), good = dir.file("good.wav");
    const std::string cmd = "espeak-ng -w '" + speech + "' 'Keep the header and the order of the channels.' && sox '" +
                            speech + "' -r 48000 -b " + std::to_string(c.bits) + " '" + good +
                            "' remix 1v1 1v0.8 2>/dev/null";
    HeaderedTake r;
    if (std::system(cmd.c_str()) != 0) return r;
    WaveInfo info;
    if (!AnalyzeWave(good, info).complete()) return r;
    const Bytes bytes = ReadFile(good);
    r.header = static_cast<std::size_t>(info.dataStart());
    r.samples = Slice(bytes, r.header, static_cast<std::size_t>(info.dataSize));
    Bytes file = bytes;
    if (c.lost) {
        const std::size_t frame = static_cast<std::size_t>(c.bits / 4);
        r.cut = r.samples.size() / frame * 2 / 3 * frame + 1;
        file.erase(file.begin() + static_cast<std::ptrdiff_t>(r.header + r.cut));
        for (std::size_t at : {std::size_t{4}, r.header - 4}) file[at] = file[at + 1] = file[at + 2] = file[at + 3] = 0;
    }
    dir.write(name, file);
    return r;
}

// --realign keeps the header's alignment: an intact file comes back sample
// for sample, one with a byte lost differs in at most the frame the byte
// was cut from; the rate is said to come from the file's header.
TEST(Rescue, RealignKeepsTheOwnHeadersAlignment) {
    if (!HaveSox() || !HaveEspeak()) GTEST_SKIP() << "sox or espeak-ng not installed";
    for (const auto& c : kHeaderCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const HeaderedTake r = WriteRecording(dir, c, "take.wav");
        ASSERT_FALSE(r.samples.empty());
        const CliRun run = RunCli("rescue --realign " + Quote(dir.file("take.wav")), dir);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("(from the file's header)"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("--like"), std::string::npos) << run.err;
        WaveInfo info;
        const std::string out = dir.file("take(realign).wav");
        ASSERT_TRUE(AnalyzeWave(out, info).complete());
        const Bytes data =
            Slice(ReadFile(out), static_cast<std::size_t>(info.dataStart()), static_cast<std::size_t>(info.dataSize));
        ASSERT_EQ(data.size(), r.samples.size());
        const std::size_t frame = static_cast<std::size_t>(c.bits / 4);
        std::size_t differ = 0;
        for (std::size_t at = 0; at < data.size(); at += frame)
            differ += !std::equal(data.begin() + static_cast<std::ptrdiff_t>(at),
                                  data.begin() + static_cast<std::ptrdiff_t>(at + frame),
                                  r.samples.begin() + static_cast<std::ptrdiff_t>(at));
        EXPECT_LE(differ, c.lost ? 1u : 0u);
    }
}

// Plain recover patches the sizes of an unfinalized recording, but not of
// one whose frames shift part-way: it names the byte and --realign, and
// leaves the file as it was.
TEST(Recover, RefusesARecordingWhoseFramesShift) {
    if (!HaveSox() || !HaveEspeak()) GTEST_SKIP() << "sox or espeak-ng not installed";
    for (const auto& c : kHeaderCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const HeaderedTake r = WriteRecording(dir, c, "take.wav");
        ASSERT_FALSE(r.samples.empty());
        const std::string path = dir.file("take.wav");
        if (!c.lost) continue;  // an intact one needs nothing
        const Bytes before = ReadFile(path);
        const CliRun run = RunCli("recover " + Quote(path), dir);
        EXPECT_EQ(run.status, 1);
        const std::string code = RefusalCode(run.err, path);
        EXPECT_EQ(code.substr(0, code.find(' ')), "data-shifted") << run.err;
        EXPECT_NE(run.err.find("--realign"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(path), before);
        // The byte named is within a frame of the cut.
        const std::string at = code.substr(code.find(' ') + 1);
        std::string digits;
        for (char ch : at)
            if (ch != ',') digits += ch;
        EXPECT_NEAR(std::stod(digits), static_cast<double>(r.header + r.cut), c.bits / 4.0);
    }
}

}  // namespace
}  // namespace velmora::test
