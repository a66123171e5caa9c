// The records of the operations: what a plan promises is what the run does,
// for every record, and the rules gate each one.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ops/catalogue.h"
#include "ops/records.h"
#include "ops/repair.h"
#include "wav/error.h"
#include "recording_host.h"
#include "wav/analysis.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

Bytes Tone(std::size_t frames) {
    Bytes samples;
    for (std::size_t i = 0; i < frames; ++i)
        for (double gain : {8000.0, 6000.0})
            AppendU16(samples, static_cast<std::uint16_t>(static_cast<std::int16_t>(gain * std::sin(i * 0.05))));
    return samples;
}

struct Case {
    Operation op;
    std::function<void(TempDir&, Subject&)> make;  // writes the file and sets the options
};

WavBuilder Stereo() {
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = Tone(4000);
    return b;
}

}  // namespace

TEST(OperationRecords, EveryRunWritesWhatItsPlanSaid) {
    const auto wav = [](WavBuilder b, std::string name = "src.wav") {
        return [b, name](TempDir& dir, Subject& s) { s.path = dir.write(name, b.Build()); };
    };
    WavBuilder eighteen = Stereo(), footer = Stereo(), riff = Stereo(), cut = Stereo(), mono = Stereo();
    eighteen.fmtSize = 18;
    footer.trailer = ListChunk(10);
    riff.riffSize = 7;
    cut.dataSize = 0xFFFFFFFF;
    mono.channels = 1;
    const std::vector<Case> cases = {
        {Operation::Split, wav(Stereo())},
        {Operation::Surround, wav(Stereo())},
        {Operation::Normalize, wav(Stereo())},
        {Operation::RebuildHeader, wav(eighteen)},
        {Operation::Multiplex,
         [mono](TempDir& dir, Subject& s) {
             s.options.set("left", dir.write("l.wav", mono.Build()));
             s.options.set("center", dir.write("c.wav", mono.Build()));
         }},
        {Operation::RemoveFooter, wav(footer)},
        {Operation::SetRate,
         [&](TempDir& dir, Subject& s) {
             wav(Stereo())(dir, s);
             s.options.set("rate", "44100");
         }},
        {Operation::FixRiffSize, wav(riff)},
        {Operation::Recover, wav(cut)},
        {Operation::Rescue,
         [&](TempDir& dir, Subject& s) {
             Bytes broken = Stereo().Build();
             std::fill(broken.begin(), broken.begin() + 44, 0);
             s.path = dir.write("broken.wav", broken);
             s.options.set("like", dir.write("like.wav", Stereo().Build()));
         }},
        {Operation::RawToWave, [](TempDir& dir, Subject& s) { s.path = dir.write("take.pcm", Tone(3000)); }},
        {Operation::DetectRaw,
         [](TempDir& dir, Subject& s) {
             s.path = dir.write("take.pcm", Tone(30000));
             s.options.set("detect", "1");
             s.options.set("bits", "16");  // the fallback, should the detection not be sure
         }},
    };
    for (const OperationEntry& e : kOperationTable)
        EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const Case& c) { return c.op == e.op; })) << e.verb;

    for (const Case& c : cases) {
        SCOPED_TRACE(OperationName(c.op));
        TempDir dir;
        Subject s;
        c.make(dir, s);
        const OperationRecord& record = RecordOf(c.op);
        if (record.input == Input::Wave) {
            s.result = AnalyzeWave(s.path, s.info);
            ASSERT_EQ(RuleVerdict(c.op, s.info, s.result).code, Reason::None);
        }
        const Plan plan = record.plan(s);
        ASSERT_FALSE(plan.files.empty());
        RecordingHost host;
        const std::vector<std::string> written = record.run(s, host);
        std::vector<std::string> planned;
        for (const PlannedFile& f : plan.files) planned.push_back(f.path);
        EXPECT_EQ(written, planned);
        for (const PlannedFile& f : plan.files) EXPECT_EQ(f.inPlace, f.path == s.path) << f.path;
    }
}

// Each verb runs the record its options choose; recover with a rescue option
// is the rescue, raw2wav with --detect the detection.
TEST(OperationRecords, OptionsChooseTheRecordOfAVerb) {
    struct Row {
        std::string verb;
        std::vector<std::string> given;
        Operation op;
    };
    const std::vector<Row> rows = {
        {"recover", {}, Operation::Recover},         {"recover", {"like"}, Operation::Rescue},
        {"recover", {"realign"}, Operation::Rescue}, {"rescue", {}, Operation::Rescue},
        {"raw2wav", {}, Operation::RawToWave},       {"raw2wav", {"detect"}, Operation::DetectRaw},
        {"raw2wav", {"bits"}, Operation::RawToWave}, {"split", {}, Operation::Split},
    };
    for (const Row& r : rows) {
        OptionValues values;
        for (const std::string& key : r.given) values.set(key, "1");
        EXPECT_EQ(RecordForVerb(r.verb, values), r.op) << r.verb;
    }
    EXPECT_EQ(OptionKey({"-o,--output", ""}), "output");
    EXPECT_EQ(OptionKey({"RATE", ""}), "rate");
}

// Every failure and refusal text maps to one code, whatever name it carries.
TEST(OperationRecords, EveryCataloguedTextHasItsOwnCode) {
    for (const CatalogueEntry& e : TextCatalogue()) {
        const std::string text = e.aroundName ? e.prefix + "録音 take\n1.wav" + e.suffix : e.prefix;
        EXPECT_EQ(ErrorCodeOf(text), e.code) << text;
        EXPECT_FALSE(e.code.empty());
        EXPECT_EQ(e.code.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string::npos) << e.code;
    }
    EXPECT_EQ(ErrorCodeOf(TextCannotOpen("/a/b.wav")), "cannot-open");
    EXPECT_EQ(ErrorCodeOf(TextUnusableRate("0")), "unusable-rate");
    EXPECT_EQ(ErrorCodeOf("not a text of ours"), "");
}
