// Runs every operation the analysis of one file enables, each into an output
// folder of its own making, and checks what no operation may ever do: change
// a source it only reads, write beside the source or outside its folder,
// leave a file open, write an output whose header disagrees with its length
// without saying so, or patch more than the bytes an in-place repair names.
// The fuzz target aborts on a broken rule; the tests expect none.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ops/host.h"
#include "ops/multiplex.h"
#include "ops/normalize.h"
#include "ops/operations.h"
#include "ops/catalogue.h"
#include "ops/records.h"
#include "ops/option_text.h"
#include "ops/rawwave.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/rescue.h"
#include "ops/source_checks.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "wav/sample_format.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav/text.h"
#include "recording_host.h"

namespace velmora::harness {

using Bytes = std::vector<std::uint8_t>;

// Paths stay UTF-8 strings here; the standard library gets and gives them as
// UTF-8 (a narrow string on Windows would be the ANSI code page).
inline std::filesystem::path Fs(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

inline Bytes Slurp(const std::string& path) {
    std::ifstream in(Fs(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Spill(const std::string& path, const Bytes& bytes) {
    std::ofstream out(Fs(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t U32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Entries of the process's descriptor table.
inline int OpenDescriptors() {
#ifdef _WIN32
    // Wine shows its own process's descriptors there, not our handles.
    return -1;
#endif
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) ++n;
        ::closedir(d);
        return n - 3;  // ".", ".." and the one opendir holds
    }
    return -1;
}

// Every entry below a folder, with the bytes of each regular file.
using Tree = std::map<std::string, Bytes>;
inline Tree Snapshot(const std::string& folder) {
    Tree t;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(Fs(folder), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string p = Utf8(it->path());
        t[p] = it->is_regular_file() ? Slurp(p) : Bytes{'/'};
    }
    return t;
}

// What the harness chooses where a user would choose.
struct Choices {
    std::string delayText = "200";
    bool swapRear = false;
    bool extendedHeader = true;
    bool cue = false;
    std::string rateText = "44100";
    int muxRowA = 0;
    int muxRowB = 1;
    bool muxUncheckB = false;
    bool muxExwave = true;
    bool muxCue = false;
    int rawRateItem = 0;
    std::string rawOtherRate = "22050";
    int rawBitsItem = 0;
    int rawModeItem = 0;
    // Also run the operations the analysis keeps disabled, when the header
    // promises little enough output; only the rules that hold for any call
    // (source, folders, descriptors) are checked for those.
    bool alsoDisabled = false;

    // Options spread over the bits of one number (the fuzz target's).
    static Choices FromSeed(std::uint64_t s) {
        static const char* const delays[] = {"200", "0", "1000", "1", " 7", "1001", "x", ""};
        static const char* const rates[] = {"44100", "0", "-1", "48000", "1", "$7FFFFFFF", "", "4x"};
        static const char* const others[] = {"22050", "0", "-8000", "2147483647", "q"};
        Choices c;
        c.delayText = delays[s & 7];
        c.swapRear = (s >> 3) & 1;
        c.extendedHeader = !((s >> 4) & 1);
        c.cue = (s >> 5) & 1;
        c.rateText = rates[(s >> 6) & 7];
        c.muxRowA = static_cast<int>((s >> 9) % 6);
        c.muxRowB = static_cast<int>((static_cast<std::uint64_t>(c.muxRowA) + 1 + (s >> 12) % 5) % 6);
        c.muxUncheckB = ((s >> 15) & 3) == 0;
        c.muxExwave = !((s >> 17) & 1);
        c.muxCue = (s >> 18) & 1;
        c.rawRateItem = static_cast<int>((s >> 19) & 3);
        c.rawOtherRate = others[((s >> 21) & 7) % 5];
        c.rawBitsItem = static_cast<int>((s >> 24) & 1);
        c.rawModeItem = static_cast<int>((s >> 25) & 1);
        c.alsoDisabled = (s >> 26) & 1;
        return c;
    }
};

struct Outcome {
    std::string op;
    bool enabled = false;
    std::vector<std::string> written;
    std::vector<Bytes> files;            // what each written path held when the operation returned
    std::optional<std::string> failure;  // the VelmoraError text
    std::vector<std::string> messages;   // host.message
    std::vector<std::string> logLines;
    int peakRows = 0;
};

struct Report {
    AnalysisResult analysis;
    WaveInfo info;
    std::vector<Outcome> ops;
    std::vector<std::string> violations;
    bool skippedAsHuge = false;

    const Outcome* find(const std::string& op) const {
        for (const auto& o : ops)
            if (o.op == op) return &o;
        return nullptr;
    }
};

class StubPeakView : public PeakListView {
public:
    void showList() override { shown = true; }
    void clearRows() override { rows = 0; }
    void addRow(int, int, int) override { ++rows; }
    void addFloatRow(int, int, double) override { ++rows; }
    void setLabel(const std::string& text) override { label = text; }
    void hide() override { shown = false; }
    bool shown = false;
    int rows = 0;
    std::string label;
};

namespace detail {

struct Run {
    std::string source;
    std::string outDir;
    Report& report;

    void violate(const std::string& op, const std::string& what) { report.violations.push_back(op + ": " + what); }

    // Header rule of a finished output: the RIFF size counts the whole file
    // and the data chunk at dataPos (with its pad byte) ends the file.
    // Returns the broken rule, or "" when the header describes the file.
    static std::string HeaderDisagrees(const Bytes& out, std::size_t dataPos) {
        if (out.size() < 12 || out.size() < dataPos + 8) return "shorter than its header";
        if (std::uint64_t{U32(out, 4)} + 8 != out.size()) return "riffSize + 8 != length";
        if (std::string(out.begin() + static_cast<long>(dataPos), out.begin() + static_cast<long>(dataPos) + 4) !=
            "data")
            return "no data chunk where the header form puts it";
        // Odd data may be followed by its pad byte.
        const std::uint64_t size = U32(out, dataPos + 4);
        const std::uint64_t end = dataPos + 8 + size;
        if (end != out.size() && !((size & 1) != 0 && end + 1 == out.size())) return "dataSize does not fit";
        return "";
    }

    // Runs one operation that writes new files and checks the rules every such
    // call keeps. checkHeader(path, bytes) returns a broken header rule or "".
    template <typename Op, typename Check>
    void newFile(const std::string& op, bool enabled, Op&& run, Check&& checkHeader, RecordingHost* hostOut = nullptr) {
        Outcome o;
        o.op = op;
        o.enabled = enabled;
        std::filesystem::remove_all(Fs(outDir));
        std::filesystem::create_directories(Fs(outDir));
        const Tree sourceSide = Snapshot(FolderPart(source));
        const std::string parent = Utf8(Fs(outDir).parent_path());
        const std::set<std::string> aroundBefore = Names(parent);
        const int fds = OpenDescriptors();
        RecordingHost host;
        try {
            o.written = run(host, o);
        } catch (const VelmoraError& e) {
            o.failure = e.what();
            // Every failure has a code scripts can compare.
            if (ErrorCodeOf(e.what()).empty()) violate(op, std::string("a failure without a code: ") + e.what());
        }
        o.messages.insert(o.messages.end(), host.messages.begin(), host.messages.end());
        o.logLines = host.logLines;
        if (hostOut) *hostOut = host;
        if (OpenDescriptors() != fds) violate(op, "left a file open");
        if (Snapshot(FolderPart(source)) != sourceSide) violate(op, "changed the source's folder");
        if (Names(parent) != aroundBefore) violate(op, "wrote beside the output folder");
        const Tree out = Snapshot(outDir);
        std::set<std::string> returned(o.written.begin(), o.written.end());
        for (const auto& [path, bytes] : out) {
            if (bytes == Bytes{'/'}) violate(op, "made a folder " + path);
            if (FileNamePart(path).rfind('.', 0) == 0) violate(op, "left a hidden file " + path);
            if (!o.failure && !returned.count(path)) violate(op, "wrote a file it did not return: " + path);
            // A failure may leave outputs it finished, never a partial one.
            if (o.failure && enabled) {
                const std::string broken = checkHeader(path, bytes);
                if (!broken.empty()) violate(op, "failed, leaving a partial " + FileNamePart(path) + ": " + broken);
            }
        }
        for (const auto& path : o.written) {
            if (FolderPart(path) != EnsureTrailingSeparator(outDir)) violate(op, "returned a path outside its folder");
            auto it = out.find(path);
            if (it == out.end()) {
                violate(op, "returned a file it did not write: " + path);
                o.files.emplace_back();
                continue;
            }
            o.files.push_back(it->second);
            if (enabled && !o.failure) {
                const std::string broken = checkHeader(path, it->second);
                if (!broken.empty()) violate(op, broken + " in " + FileNamePart(path));
            }
        }
        report.ops.push_back(std::move(o));
    }

    static std::set<std::string> Names(const std::string& folder) {
        std::set<std::string> s;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(Fs(folder), ec)) s.insert(Utf8(e.path()));
        return s;
    }

    // Runs one in-place repair on a fresh analysis of the original bytes;
    // only the bytes in [from, to) may change, and only on success.
    template <typename Op>
    void inPlace(const std::string& op, const Bytes& original, std::size_t from, std::size_t to, Op&& run,
                 const std::function<std::string(const Bytes&)>& checkPatched,
                 std::optional<Operation> settles = std::nullopt) {
        inPlace(op, original, std::vector<std::pair<std::size_t, std::size_t>>{{from, to}}, run, checkPatched, settles);
    }

    // The same with several fields [from, to). A repair that finds nothing
    // to do returns no path and leaves every byte.
    template <typename Op>
    void inPlace(const std::string& op, const Bytes& original,
                 const std::vector<std::pair<std::size_t, std::size_t>>& fields, Op&& run,
                 const std::function<std::string(const Bytes&)>& checkPatched,
                 std::optional<Operation> settles = std::nullopt) {
        const auto named = [&](std::size_t i) {
            return std::any_of(fields.begin(), fields.end(),
                               [i](const auto& f) { return i >= f.first && i < f.second; });
        };
        Outcome o;
        o.op = op;
        o.enabled = true;
        Spill(source, original);
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(source, info);
        const std::optional<OperationSet> before = AllowedOperations(info, r);
        const bool offered = settles && before && before->contains(*settles);
        std::filesystem::remove_all(Fs(outDir));
        std::filesystem::create_directories(Fs(outDir));
        const Tree sourceSide = Snapshot(FolderPart(source));
        const int fds = OpenDescriptors();
        RecordingHost host;
        try {
            o.written = run(info, host);
        } catch (const VelmoraError& e) {
            o.failure = e.what();
            // Every failure has a code scripts can compare.
            if (ErrorCodeOf(e.what()).empty()) violate(op, std::string("a failure without a code: ") + e.what());
        }
        o.messages = host.messages;
        if (OpenDescriptors() != fds) violate(op, "left a file open");
        Tree after = Snapshot(FolderPart(source));
        const Bytes patched = after[source];
        after[source] = sourceSide.at(source);
        if (after != sourceSide) violate(op, "touched another file beside the source");
        if (!Snapshot(outDir).empty()) violate(op, "wrote into the output folder");
        const bool untouched = o.failure || o.written.empty();
        if (patched.size() != original.size())
            violate(op, "changed the file's length");
        else {
            for (std::size_t i = 0; i < original.size(); ++i)
                if (patched[i] != original[i] && (untouched || !named(i))) {
                    violate(op, "changed byte " + std::to_string(i));
                    break;
                }
            if (!untouched) {
                o.files.push_back(patched);
                if (o.written != std::vector<std::string>{source}) violate(op, "did not return the patched path");
                const std::string broken = checkPatched(patched);
                if (!broken.empty()) violate(op, broken);
                // Run where the analysis offered it, the repair leaves a file
                // that passes its own analysis and needs no second repair of
                // the same kind (a new rate may always be set again).
                WaveInfo again;
                const AnalysisResult ra = AnalyzeWave(source, again);
                const std::optional<OperationSet> still = AllowedOperations(again, ra);
                if (offered && (!ra.complete() || !still))
                    violate(op, "the patched file no longer passes its analysis");
                else if (offered && *settles != Operation::SetRate && still->contains(*settles))
                    violate(op, "the patched file still needs the repair");
            }
        }
        (void)r;
        Spill(source, original);
        report.ops.push_back(std::move(o));
    }
};

// Bytes the header says the operations on this file would write, at most:
// the play time's frames as split files (blockAlign bytes a frame in all),
// a surround file (12) and a normalized or rebuilt copy (blockAlign, when
// they accept it), and six channels of dataSize for the multiplex writer.
inline std::uint64_t PromisedOutput(const WaveInfo& w) {
    const std::int64_t frames =
        w.totalSeconds() * std::max<std::int64_t>(w.format.samplesPerSec, 0) + std::max(w.playRemainderFrames, 0);
    const std::uint64_t perFrame = static_cast<std::uint64_t>(std::abs(static_cast<int>(w.format.blockAlign))) * 3 + 12;
    return static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 0)) * perFrame + std::uint64_t{w.dataSize} * 6 +
           44 * kSpeakerNameCount;
}

}  // namespace detail

// The two in-place repairs, each on a fresh copy of the original bytes (the
// RIFF size, the sampling rate: each when asked for).
inline void RunInPlaceRepairs(detail::Run& run, const Bytes& original, const WaveInfo& info, const Choices& c,
                              bool withRiffSize, bool withSampleRate, bool withRecover) {
    // These files have no other writer; the look for one would only cost
    // a pause per patch.
    SetWriterCheckPause(0);
    const std::string& source = run.source;
    if (withRiffSize) {
        // An RF64 file whose 32-bit field defers to ds64 gets its size there.
        const bool ds64 = info.rf64 && original.size() >= 28 && U32(original, 4) == 0xFFFFFFFFu;
        run.inPlace(
            "riffSize", original, ds64 ? 20 : 4, ds64 ? 28 : 8,
            [&](WaveInfo& w, Host& h) { return RewriteRiffSize(w, {source}, h); },
            [&](const Bytes& p) {
                const std::uint64_t size =
                    ds64 ? (std::uint64_t{U32(p, 20)} | std::uint64_t{U32(p, 24)} << 32) : U32(p, 4);
                return size + 8 == p.size() ? std::string() : std::string("riffSize + 8 != length");
            },
            Operation::FixRiffSize);
    }
    if (withRecover) {
        // The RIFF and data sizes, in ds64 or in their 32-bit fields.
        const auto dataSizeAt = static_cast<std::size_t>(info.dataChunkPos) + 4;
        const std::vector<std::pair<std::size_t, std::size_t>> fields =
            info.rf64 ? std::vector<std::pair<std::size_t, std::size_t>>{{20, 36}}
                      : std::vector<std::pair<std::size_t, std::size_t>>{{4, 8}, {dataSizeAt, dataSizeAt + 4}};
        run.inPlace(
            "recover", original, fields, [&](WaveInfo& w, Host& h) { return RecoverDataSize(w, {source}, h); },
            [&](const Bytes& p) {
                if (info.rf64) return std::string();
                return U32(p, dataSizeAt) <= p.size() - dataSizeAt - 4 ? std::string()
                                                                       : std::string("data past the end");
            },
            Operation::Recover);
    }
    if (withSampleRate) {
        const auto at = static_cast<std::size_t>(info.fmtChunkPos);
        run.inPlace(
            "sampleRate", original, at + 12, at + 20,
            [&](WaveInfo& w, Host& h) {
                return RewriteSampleRate(w, {source, ParseSampleRate(c.rateText, w.format.blockAlign)}, h);
            },
            [&](const Bytes& p) {
                const auto rate = static_cast<std::uint32_t>(StrToInt(c.rateText));
                const auto align = static_cast<std::uint32_t>(static_cast<std::int32_t>(info.format.blockAlign));
                // ADPCM and GSM blocks of a stated sample count give the byte
                // rate; another compressed format's keeps its ratio to the rate.
                const std::uint16_t tag = info.format.formatTag;
                const std::uint16_t perBlock =
                    (tag == 0x0002 || tag == 0x0011 || tag == 0x0031) && info.format.fmtSize >= 20 ? info.validBits : 0;
                const std::uint64_t oldRate = static_cast<std::uint32_t>(info.format.samplesPerSec);
                const std::uint32_t byteRate =
                    perBlock > 0
                        ? static_cast<std::uint32_t>(std::uint64_t{rate} *
                                                     static_cast<std::uint16_t>(info.format.blockAlign) / perBlock)
                    : IsCompressedFormat(info) && info.format.samplesPerSec > 0
                        ? static_cast<std::uint32_t>(
                              (std::uint64_t{static_cast<std::uint32_t>(info.format.avgBytesPerSec)} * rate +
                               oldRate / 2) /
                              oldRate)
                        : rate * align;
                if (U32(p, at + 12) != rate || U32(p, at + 16) != byteRate)
                    return std::string("rate fields hold other values");
                return std::string();
            },
            Operation::SetRate);
    }
}

// The name each operation's run goes by in a report, in the enum's order:
// a new Operation without its run here fails to build.
inline constexpr std::array<const char*, kAllOperations.size()> kRunNames = {
    "split", "surround", "normalize", "rebuild", "multiplex", "removeFooter", "sampleRate", "riffSize", "recover",
};
static_assert(
    [] {
        for (const char* n : kRunNames)
            if (n == nullptr) return false;
        return true;
    }(),
    "kRunNames: one run per Operation");

// source: the file to work on, alone in its folder or among files that must
// not change; outDir: a folder the harness empties and fills for every
// operation, outside the source's folder (its parent holds only it and
// folders the operations must not touch).
namespace detail {

// What each record of the operations that wrote new files above plans for
// the same file and choices: the very files the run wrote.
inline void CheckPlansAgainstRuns(Run& run, const std::string& source, const std::string& outDir, const Choices& c) {
    Subject s;
    s.path = source;
    s.info = run.report.info;
    s.result = run.report.analysis;
    s.options.set("output", outDir);
    s.options.set("delay", c.delayText);
    if (c.swapRear) s.options.set("swap", "1");
    if (!c.extendedHeader) s.options.set("plain", "1");
    if (c.cue) s.options.set("cue", "1");
    for (Operation op : {Operation::Split, Operation::Surround, Operation::Normalize, Operation::RebuildHeader,
                         Operation::RemoveFooter}) {
        const char* name = kRunNames[static_cast<std::size_t>(op)];
        const Outcome* done = run.report.find(name);
        if (done == nullptr || !done->enabled || done->failure || done->written.empty()) continue;
        std::vector<std::string> planned;
        try {
            for (const PlannedFile& f : RecordOf(op).plan(s).files) planned.push_back(f.path);
        } catch (const VelmoraError& e) {
            run.violate(name, std::string("the plan refused what the run did: ") + e.what());
            continue;
        }
        if (planned != done->written) run.violate(name, "the plan names other files than the run wrote");
    }
}

}  // namespace detail

inline Report RunEveryOperation(const std::string& source, const std::string& outDir, const Choices& c) {
    Report rep;
    detail::Run run{source, outDir, rep};
    const Bytes original = Slurp(source);

    WaveInfo info;
    rep.analysis = AnalyzeWave(source, info);
    rep.info = info;
    const AnalysisResult& a = rep.analysis;
    const std::optional<OperationSet> allowed = AllowedOperations(info, a);
    const bool complete = a.complete() && allowed.has_value();
    const OperationSet e = complete ? *allowed : OperationSet{};
    const auto on = [&e](Operation op) { return e.contains(op); };
    // Small promised output: disabled operations may run too. A consistent
    // file never promises more than a few times its own length.
    const bool small =
        complete && detail::PromisedOutput(info) <= (std::uint64_t{16} << 20) && info.totalSeconds() <= 20000;
    if (complete && !small &&
        (on(Operation::Split) || on(Operation::Surround) || on(Operation::Normalize) || on(Operation::RebuildHeader) ||
         on(Operation::Multiplex))) {
        rep.skippedAsHuge = true;
        return rep;
    }
    const auto wanted = [&](bool enabled) { return enabled || (c.alsoDisabled && small); };
    const std::string folder = EnsureTrailingSeparator(outDir);
    const auto plainAt36 = [](const std::string&, const Bytes& b) { return detail::Run::HeaderDisagrees(b, 36); };

    if (complete && wanted(on(Operation::Split))) {
        run.newFile(
            "split", on(Operation::Split),
            [&](Host& h, Outcome&) {
                return ChannelSplit(info, {source, outDir}, h);
            },
            plainAt36);
    }
    if (complete && wanted(on(Operation::Surround))) {
        const std::size_t dataPos = c.extendedHeader ? (c.cue ? 120 : 60) : 36;
        run.newFile(
            "surround", on(Operation::Surround),
            [&](Host& h, Outcome&) {
                SurroundOptions o{source,
                                  outDir,
                                  ParseSurroundDelay(c.delayText),
                                  c.swapRear,
                                  c.extendedHeader ? SurroundHeader::Extensible : SurroundHeader::Plain,
                                  c.cue};
                return PseudoSurround(info, o, h);
            },
            [&](const std::string&, const Bytes& b) { return detail::Run::HeaderDisagrees(b, dataPos); });
    }
    if (complete && wanted(on(Operation::Normalize))) {
        StubPeakView view;
        const auto dataPos = static_cast<std::size_t>(info.dataChunkPos);
        run.newFile(
            "normalize", on(Operation::Normalize),
            [&](Host& h, Outcome& o) {
                auto w = Normalize(info, {source, outDir}, view, h);
                o.peakRows = view.rows;
                return w;
            },
            [&](const std::string&, const Bytes& b) {
                std::string broken = detail::Run::HeaderDisagrees(b, dataPos);
                if (broken.empty()) {
                    // The copied header: every byte but the two sizes as in the source.
                    for (std::size_t i = 0; i < dataPos + 8 && i < original.size(); ++i)
                        if (b[i] != original[i] && !(i >= 4 && i < 8) && !(i >= dataPos + 4))
                            return std::string("header byte ") + std::to_string(i) + " not copied";
                }
                return broken;
            });
    }
    if (complete && wanted(on(Operation::RebuildHeader))) {
        WaveInfo mine = info;
        run.newFile(
            "rebuild", on(Operation::RebuildHeader),
            [&](Host& h, Outcome&) {
                return RebuildHeader(mine, {source, outDir}, h);
            },
            [&](const std::string&, const Bytes& b) {
                // Kept by design: an 18-byte format chunk at 12 followed by other
                // chunks keeps the source's riffSize − 2, which counts the chunk
                // left out; and the data header keeps the source's dataSize while
                // only whole frames are copied.
                const std::uint64_t whole = 44 + (std::uint64_t{info.dataSize} / 4) * 4;
                if (b.size() == whole && b.size() >= 44 && U32(b, 40) == info.dataSize &&
                    (info.fmtChunkPos != 12 ? U32(b, 4) == info.dataSize + 36u : U32(b, 4) == info.riffSize - 2u))
                    return std::string();
                return detail::Run::HeaderDisagrees(b, 36);
            });
    }
    if (complete && wanted(on(Operation::RemoveFooter))) {
        run.newFile(
            "removeFooter", on(Operation::RemoveFooter),
            [&](Host& h, Outcome&) {
                return RemoveFooter(info, {source, outDir}, h);
            },
            [&](const std::string&, const Bytes& b) {
                // The copy is the header, the samples and their pad byte; every
                // chunk after them goes. The header describes it exactly when the
                // footer ends the file.
                const std::uint32_t headerSize = static_cast<std::uint32_t>(info.dataChunkPos) + 8u;
                const std::uint64_t samples = std::min<std::uint64_t>(info.dataSize, original.size() - headerSize);
                const std::uint64_t count = info.dataSize + (info.dataSize & 1);
                if (b.size() != std::uint64_t{headerSize} + count) return std::string("length is not header + count");
                if (!std::equal(b.begin() + headerSize, b.begin() + static_cast<std::ptrdiff_t>(headerSize + samples),
                                original.begin() + headerSize))
                    return std::string("copied bytes differ from the source");
                if (static_cast<std::uint32_t>(info.footerSize) != info.listFooterSize) return std::string();
                const bool plain = info.fmtChunkPos == 12 && info.format.fmtSize == 16 && info.dataChunkPos == 36;
                return detail::Run::HeaderDisagrees(b, plain ? 36 : headerSize - 8);
            });
    }
    if (complete && wanted(on(Operation::Multiplex))) {
        run.newFile(
            "multiplex", on(Operation::Multiplex),
            [&](Host& h, Outcome& o) -> std::vector<std::string> {
                ChannelList list;
                WaveInfo regInfo;
                ChannelRegistration ra = RegisterChannelFile(c.muxRowA, source, regInfo, list);
                ChannelRegistration rb = RegisterChannelFile(c.muxRowB, source, regInfo, list);
                if (ra.refusal) o.messages.push_back(*ra.refusal);
                if (!ra.registered || !rb.registered) return {};
                if (c.muxUncheckB) list.setChecked(c.muxRowB, false);
                return WriteMultiplex(list, {c.muxExwave, c.muxCue, outDir}, h);
            },
            [&](const std::string&, const Bytes& b) {
                const bool centre = c.muxRowA >= 2 || (!c.muxUncheckB && c.muxRowB >= 2);
                const bool ext = centre && c.muxExwave;
                return detail::Run::HeaderDisagrees(b, ext ? (c.muxCue ? 120 : 60) : 36);
            });
    }
    // Independent of the analysis: the source's bytes as raw samples.
    {
        run.newFile(
            "raw2wav", true,
            [&](Host& h, Outcome&) {
                // The rate as the raw tab's items give it; the fourth is typed.
                static constexpr std::int32_t kItemRates[] = {48000, 44100, 32000};
                const std::int32_t rate = c.rawRateItem == 3 ? ParseInteger(c.rawOtherRate) : kItemRates[c.rawRateItem];
                RawToWaveOptions o{source, rate, c.rawBitsItem == 0 ? RawBits::Sixteen : RawBits::Eight,
                                   c.rawModeItem == 0 ? RawChannels::Stereo : RawChannels::Mono, outDir};
                return RawToWave(o, h);
            },
            [&](const std::string&, const Bytes& b) {
                // Odd raw data is followed by its pad byte.
                const std::size_t pad = original.size() & 1;
                if (b.size() != original.size() + 44 + pad ||
                    !std::equal(original.begin(), original.end(), b.begin() + 44) || (pad != 0 && b.back() != 0))
                    return std::string("samples are not the raw file");
                return detail::Run::HeaderDisagrees(b, 36);
            });
    }
    // Also independent of the analysis: the source's bytes as a recording
    // without a header, in a given format and in a detected one.
    {
        const auto dataAt = [](const Bytes& b) -> std::size_t {
            return b.size() > 21 && b[20] == 0xFE && b[21] == 0xFF ? 60 : 36;
        };
        run.newFile(
            "rescue", true,
            [&](Host& h, Outcome&) {
                RescueOptions o;
                o.source = source;
                o.format = RawSampleFormat{2, SampleEncoding::S16};
                o.realign = c.rawModeItem == 1;
                o.outputFolder = outDir;
                return RescueRecording(o, h);
            },
            [&](const std::string&, const Bytes& b) { return detail::Run::HeaderDisagrees(b, dataAt(b)); });
        run.newFile(
            "raw2wav --detect", true,
            [&](Host& h, Outcome&) { return RawToWaveDetected(source, std::nullopt, outDir, h); },
            [&](const std::string&, const Bytes& b) { return detail::Run::HeaderDisagrees(b, dataAt(b)); });
    }
    if (complete)
        RunInPlaceRepairs(run, original, info, c, on(Operation::FixRiffSize), on(Operation::SetRate),
                          on(Operation::Recover));
    if (complete) detail::CheckPlansAgainstRuns(run, source, outDir, c);
    if (Slurp(source) != original) run.violate("all", "the source is not as it was");
    std::filesystem::remove_all(Fs(outDir));
    return rep;
}

}  // namespace velmora::harness
