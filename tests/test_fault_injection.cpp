// The file layer failing under every operation: the Nth open, read or write
// fails (a full disk, a file that vanished) for N = 1, 2, … until the
// operation gets through without meeting the fault. Each time the operation
// must stop with the failure text of that file, close everything it opened,
// leave the source of a new-file operation as it was, and leave an in-place
// repair's file either untouched or completely patched. Outputs appear whole
// or not at all: a file of an output's name holds what it held before or
// the complete output, and nothing else is left in the folder. Both ways of
// writing an output (unnamed, under a temporary name) are run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "error_of.h"
#include "op_harness.h"
#include "io/fault.h"
#include "io/file.h"
#include "io/patch.h"
#include "wav_builder.h"
#include "recording_host.h"

using namespace velmora;
using namespace velmora::test;

namespace {

enum class Kind { Open, Read, Write };

const char* Name(Kind k) { return k == Kind::Open ? "open" : k == Kind::Read ? "read" : "write"; }

// The failure a fault of this kind gives for one of the given files, by its code.
bool IsFailureText(const std::string& text, Kind kind, const std::vector<std::string>& paths) {
    const std::vector<std::string> codes = kind == Kind::Open ? std::vector<std::string>{"cannot-open", "cannot-create"}
                                           : kind == Kind::Read ? std::vector<std::string>{"cannot-read"}
                                                                : std::vector<std::string>{"cannot-write"};
    const std::string coded = CodeOf(text);
    for (const auto& p : paths)
        for (const auto& code : codes)
            if (coded == code + " " + p) return true;
    return false;
}

struct FaultSubject {
    std::string name;
    Bytes source;
    // Runs the operation on the analysed source and returns its outputs.
    std::function<std::vector<std::string>(const std::string& src, const std::string& out, Host& host)> run;
    bool inPlace = false;
    // For an in-place repair, the file as a successful run leaves it.
    Bytes patched = {};
};

WavBuilder Stereo(std::size_t frames) {
    WavBuilder b;
    b.samplesPerSec = 100;  // several one-second blocks in few bytes
    b.samples = PatternSamples(frames, 2, 2);
    return b;
}

WaveInfo Analysed(const std::string& path) {
    WaveInfo info;
    AnalyzeWave(path, info);
    return info;
}

class NullView : public PeakListView {
public:
    void showList() override {}
    void clearRows() override {}
    void addRow(int, int, int) override {}
    void addFloatRow(int, int, double) override {}
    void setLabel(const std::string&) override {}
    void hide() override {}
};

std::vector<FaultSubject> Subjects() {
    std::vector<FaultSubject> s;
    const Bytes stereo = Stereo(350).Build();  // 3 s and 50 frames
    s.push_back({"analysis", stereo, [](const std::string& src, const std::string&, Host&) {
                     WaveInfo info;
                     AnalyzeWave(src, info);
                     return std::vector<std::string>{};
                 }});
    s.push_back({"split", stereo, [](const std::string& src, const std::string& out, Host& h) {
                     WaveInfo info = Analysed(src);
                     return ChannelSplit(info, {src, out}, h);
                 }});
    s.push_back({"surround", stereo, [](const std::string& src, const std::string& out, Host& h) {
                     WaveInfo info = Analysed(src);
                     SurroundOptions o;
                     o.source = src;
                     o.outputFolder = out;
                     o.cue = true;
                     return PseudoSurround(info, o, h);
                 }});
    s.push_back({"normalize", stereo, [](const std::string& src, const std::string& out, Host& h) {
                     WaveInfo info = Analysed(src);
                     NullView view;
                     return Normalize(info, {src, out}, view, h);
                 }});
    {
        WavBuilder b = Stereo(350);
        b.fmtSize = 18;
        s.push_back({"rebuild", b.Build(), [](const std::string& src, const std::string& out, Host& h) {
                         WaveInfo info = Analysed(src);
                         return RebuildHeader(info, {src, out}, h);
                     }});
    }
    {
        // More than one 1 MiB block of sample data, then a footer.
        WavBuilder b = Stereo(300000);
        b.trailer = ListChunk(40);
        s.push_back({"removeFooter", b.Build(), [](const std::string& src, const std::string& out, Host& h) {
                         WaveInfo info = Analysed(src);
                         return RemoveFooter(info, {src, out}, h);
                     }});
        s.push_back({"raw2wav", b.Build(), [](const std::string& src, const std::string& out, Host& h) {
                         RawToWaveOptions o;
                         o.rawPath = src;
                         o.outputFolder = out;
                         return RawToWave(o, h);
                     }});
    }
    {
        WavBuilder mono;
        mono.channels = 1;
        mono.samplesPerSec = 100;
        mono.samples = PatternSamples(350, 1, 2);
        s.push_back({"multiplex", mono.Build(), [](const std::string& src, const std::string& out, Host& h) {
                         ChannelList list;
                         WaveInfo info;
                         RegisterChannelFile(0, src, info, list);
                         RegisterChannelFile(4, src, info, list);
                         return WriteMultiplex(list, {true, true, out}, h);
                     }});
    }
    {
        WavBuilder b = Stereo(350);
        b.riffSize = 36 + 350 * 4 + 10;
        Bytes patched = b.Build();
        const std::uint32_t fixed = static_cast<std::uint32_t>(patched.size() - 8);
        for (std::size_t i = 0; i < 4; ++i) patched[4 + i] = static_cast<std::uint8_t>(fixed >> (8 * i));
        s.push_back({"riffSize", b.Build(),
                     [](const std::string& src, const std::string&, Host& h) {
                         WaveInfo info = Analysed(src);
                         return RewriteRiffSize(info, {src}, h);
                     },
                     true, patched});
    }
    {
        Bytes patched = stereo;
        const std::uint32_t fields[2] = {48000, 192000};
        for (std::size_t f = 0; f < 2; ++f)
            for (std::size_t i = 0; i < 4; ++i)
                patched[24 + 4 * f + i] = static_cast<std::uint8_t>(fields[f] >> (8 * i));
        s.push_back({"sampleRate", stereo,
                     [](const std::string& src, const std::string&, Host& h) {
                         WaveInfo info = Analysed(src);
                         return RewriteSampleRate(info, {src, 48000}, h);
                     },
                     true, patched});
    }
    // The recovery's two fields, in one block and (past 4 KiB of chunks
    // before the data) apart.
    for (std::uint32_t junk : {0u, 5000u}) {
        WavBuilder b = Stereo(350);
        if (junk > 0) b.beforeFmt = Chunk("JUNK", Bytes(junk, 0));
        b.dataSize = 0;
        b.riffSize = 0;
        const Bytes source = b.Build();
        Bytes patched = source;
        const std::size_t dataAt = source.size() - 350 * 4 - 8;
        const std::uint32_t fields[2] = {static_cast<std::uint32_t>(source.size() - 8), 350 * 4};
        for (std::size_t i = 0; i < 4; ++i) {
            patched[4 + i] = static_cast<std::uint8_t>(fields[0] >> (8 * i));
            patched[dataAt + 4 + i] = static_cast<std::uint8_t>(fields[1] >> (8 * i));
        }
        s.push_back({junk > 0 ? "recover, fields apart" : "recover", source,
                     [](const std::string& src, const std::string&, Host& h) {
                         WaveInfo info = Analysed(src);
                         return RecoverDataSize(info, {src}, h);
                     },
                     true, patched});
    }
    return s;
}

}  // namespace

// A run killed at any write of an in-place repair leaves, once the file is
// analysed again, the file as it was or completely patched, and no undo
// record beside it.
TEST(FaultInjection, AKilledRepairIsWholeOrUndoneByTheNextAnalysis) {
    TempDir dir;
    const std::string src = dir.file("take.wav");
    for (const FaultSubject& subject : Subjects()) {
        if (!subject.inPlace) continue;
        bool completed = false;
        for (long n = 1; n <= 1000 && !completed; ++n) {
            SCOPED_TRACE(subject.name + ": killed at write " + std::to_string(n));
            WriteFile(src, subject.source);
            RecordingHost host;
            fault::AbandonAtWrite(n);
            try {
                subject.run(src, dir.path(), host);
            } catch (const fault::Abandoned&) {
            }
            completed = !fault::Fired();
            fault::Disarm();
            WaveInfo info;
            AnalyzeWave(src, info);
            const Bytes now = ReadFile(src);
            EXPECT_TRUE(now == subject.source || now == subject.patched) << "a mix of old and new fields";
            EXPECT_FALSE(std::filesystem::exists(UndoRecordPath(src)));
            if (completed) {
                EXPECT_TRUE(now == subject.patched);
            }
        }
        EXPECT_TRUE(completed);
    }
}

TEST(FaultInjection, EveryOperationFailsCleanlyAtEveryOpenReadAndWrite) {
    TempDir dir;
    const std::string srcDir = dir.file("src");
    const std::string outDir = dir.file("out");
    std::filesystem::create_directories(srcDir);
    const Bytes stale = {'o', 'l', 'd'};
    for (bool unnamed : {true, false})
        for (const FaultSubject& subject : Subjects()) {
            AllowUnnamedOutputs(unnamed);
            const std::string src = srcDir + "/take 1.wav";
            // The outputs of a run without faults.
            WriteFile(src, subject.source);
            std::filesystem::remove_all(outDir);
            std::filesystem::create_directories(outDir);
            RecordingHost quiet;
            subject.run(src, outDir, quiet);
            const harness::Tree complete = harness::Snapshot(outDir);
            for (Kind kind : {Kind::Open, Kind::Read, Kind::Write}) {
                bool completed = false;
                long faults = 0;
                for (long n = 1; n <= 10000 && !completed; ++n) {
                    SCOPED_TRACE(subject.name + ": " + Name(kind) + " " + std::to_string(n) +
                                 (unnamed ? "" : ", temporary names"));
                    WriteFile(src, subject.source);
                    std::filesystem::remove_all(outDir);
                    std::filesystem::create_directories(outDir);
                    for (const auto& [path, bytes] : complete) WriteFile(path, stale);
                    const int fds = harness::OpenDescriptors();
                    RecordingHost host;
                    std::vector<std::string> written;
                    std::optional<std::string> failure;
                    fault::Arm(kind == Kind::Open ? n : 0, kind == Kind::Read ? n : 0, kind == Kind::Write ? n : 0);
                    try {
                        written = subject.run(src, outDir, host);
                    } catch (const VelmoraError& e) {
                        failure = e.what();
                    }
                    const bool fired = fault::Fired();
                    fault::Disarm();

                    const harness::Tree after = harness::Snapshot(outDir);
                    for (const auto& [path, bytes] : after) {
                        auto it = complete.find(path);
                        if (it == complete.end())
                            ADD_FAILURE() << "left " << path;
                        else if (bytes != stale && bytes != it->second)
                            ADD_FAILURE() << "a partial " << path;
                    }
                    EXPECT_EQ(after.size(), complete.size()) << "an old output vanished";

                    EXPECT_EQ(harness::OpenDescriptors(), fds) << "a file was left open";
                    const Bytes now = ReadFile(src);
                    if (!subject.inPlace) {
                        EXPECT_TRUE(now == subject.source) << "the source changed";
                    } else {
                        EXPECT_TRUE(now == subject.source || now == subject.patched) << "a half-patched file";
                        if (failure) {
                            EXPECT_TRUE(now == subject.source) << "patched, yet reported as failed";
                        }
                    }
                    if (!fired) {
                        // Past the last call of this kind: the operation runs through.
                        EXPECT_FALSE(failure) << *failure;
                        EXPECT_TRUE(after == complete);
                        if (subject.inPlace) {
                            EXPECT_TRUE(now == subject.patched);
                        }
                        completed = true;
                        continue;
                    }
                    ++faults;
                    if (!failure) {
                        ADD_FAILURE() << "a failed " << Name(kind) << " was reported as success";
                        continue;
                    }
                    std::vector<std::string> files{src};
                    for (const auto& [path, bytes] : harness::Snapshot(outDir)) files.push_back(path);
                    for (const auto& name :
                         {"take 1(Left)(0).wav", "take 1(Right)(1).wav", "take 1(EX) delay(200ms) 4ch.wav",
                          "take 1(normalize).wav", "take 1(reheader).wav", "take 1(futta del).wav",
                          "take 1.wav(wavemaker).wav", "take 1(EX)(mux).wav"})
                        files.push_back(outDir + "/" + name);
                    // An in-place repair whose undo record cannot be made cannot write its file.
                    const bool recordFailed = subject.inPlace && CodeOf(*failure) == "cannot-write " + src;
                    EXPECT_TRUE(IsFailureText(*failure, kind, files) || recordFailed) << *failure;
                }
                EXPECT_TRUE(completed) << subject.name << ": " << Name(kind) << " never got through";
                // Every subject opens, reads and writes something, except that the
                // analysis and the in-place repairs of an unchanged size write little.
                if (std::getenv("VELMORA_FAULT_COUNTS"))
                    std::printf("%s %s%s: %ld faults\n", subject.name.c_str(), Name(kind), unnamed ? "" : " (named)",
                                faults);
                if (kind != Kind::Write || subject.name != "analysis") {
                    EXPECT_GT(faults, 0) << subject.name << " " << Name(kind);
                }
            }
        }
    AllowUnnamedOutputs(true);
}

// The folder is synced after the output is named, so the name outlasts a
// power cut: the last step of a commit that can fail comes after the name
// is made, and its failure is reported, not passed over.
TEST(FaultInjection, CommitSyncsTheFolderAfterNaming) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "temporary names");
        AllowUnnamedOutputs(unnamed);
        std::vector<std::int64_t> namedAtFault;  // the length under the name after each fault
        for (long n = 1; n <= 100; ++n) {
            std::filesystem::remove(path);
            OutputFile out = OutputFile::Create(path);
            out.write("data", 4);
            fault::Arm(0, 0, n);
            std::optional<std::string> failure;
            try {
                out.commit();
            } catch (const VelmoraError& e) {
                failure = e.what();
            }
            const bool fired = fault::Fired();
            fault::Disarm();
            if (!fired) break;
            EXPECT_EQ(CodeOf(failure.value_or("")), "cannot-write " + path);
            namedAtFault.push_back(FileSizeOf(path));
        }
        ASSERT_GE(namedAtFault.size(), 2u);
        EXPECT_EQ(namedAtFault.back(), 4) << "no step after the naming";
        namedAtFault.pop_back();
        for (std::int64_t named : namedAtFault) EXPECT_EQ(named, -1) << "named before all was on disk";
    }
    AllowUnnamedOutputs(true);
}

// The bytes are synced in the background while an output grows; a failure
// there may be the only time the file reports it, so the commit fails with
// it and names nothing.
TEST(FaultInjection, AFailedBackgroundSyncFailsTheCommit) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    const std::vector<std::uint8_t> block(std::size_t{1} << 20, 0x5a);
    OutputFile out = OutputFile::Create(path);
    fault::FailBackgroundSyncs(true);
    for (int i = 0; i < 12; ++i) out.write(block.data(), block.size());
    // It runs beside this thread: wait until it has met the fault.
    for (int i = 0; i < 1000 && !fault::Fired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fault::Fired());
    EXPECT_THROW(
        try { out.commit(); } catch (const VelmoraError& e) {
            EXPECT_EQ(CodeOf(e.what()), "cannot-write " + path);
            throw;
        },
        VelmoraError);
    fault::FailBackgroundSyncs(false);
    fault::Disarm();
    EXPECT_FALSE(std::filesystem::exists(path));
}
