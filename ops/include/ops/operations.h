// Which operations a file allows, decided from the facts its analysis found.
// Front ends map each operation to what they show: the window to its
// controls, the CLI to its verbs.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wav/analysis.h"
#include "wav/waveinfo.h"

namespace velmora {

enum class Operation {
    Split,          // every channel into a mono file
    Surround,       // pseudo-surround from a stereo file
    Normalize,      // peaks to full scale
    RebuildHeader,  // a copy with a plain format chunk
    Multiplex,      // mono files into one multichannel file
    RemoveFooter,   // a copy without the trailing LIST chunk
    SetRate,        // the sampling frequency rewritten in place
    FixRiffSize,    // the RIFF size rewritten in place
    Recover,        // the sizes of an unfinalized recording rewritten in place
    Rescue,         // the samples of a broken recording behind a new header
    RawToWave,      // headerless samples behind a header of the given format
    DetectRaw,      // headerless samples behind a header of the detected format
    Count,          // no operation: how many there are; new ones go above
};

inline constexpr std::size_t kOperationCount = static_cast<std::size_t>(Operation::Count);

// Each operation's record (ops/records.h), defined beside the operation.
struct OperationRecord;
extern const OperationRecord kSplitRecord, kSurroundRecord, kNormalizeRecord, kRebuildHeaderRecord, kMultiplexRecord,
    kRemoveFooterRecord, kSetRateRecord, kFixRiffSizeRecord, kRecoverRecord, kRescueRecord, kRawToWaveRecord,
    kDetectRawRecord;

// Every operation once, in the order of the enum: the name velmora-cli gives
// its verb, whether an analysis of the file offers it (the window's buttons,
// info's "offered"), and its record. A new Operation without its row here
// does not compile.
struct OperationEntry {
    Operation op;
    const char* verb;
    bool offeredByAnalysis;
    const OperationRecord* record;
};
inline constexpr std::array<OperationEntry, kOperationCount> kOperationTable = {{
    {Operation::Split, "split", true, &kSplitRecord},
    {Operation::Surround, "surround", true, &kSurroundRecord},
    {Operation::Normalize, "normalize", true, &kNormalizeRecord},
    {Operation::RebuildHeader, "rebuild-header", true, &kRebuildHeaderRecord},
    {Operation::Multiplex, "mux", true, &kMultiplexRecord},
    {Operation::RemoveFooter, "remove-footer", true, &kRemoveFooterRecord},
    {Operation::SetRate, "set-rate", true, &kSetRateRecord},
    {Operation::FixRiffSize, "fix-riff-size", true, &kFixRiffSizeRecord},
    {Operation::Recover, "recover", true, &kRecoverRecord},
    {Operation::Rescue, "rescue", false, &kRescueRecord},
    {Operation::RawToWave, "raw2wav", false, &kRawToWaveRecord},
    {Operation::DetectRaw, "raw2wav", false, &kDetectRawRecord},
}};

namespace detail {
constexpr bool TableInEnumOrder() {
    for (std::size_t i = 0; i < kOperationTable.size(); ++i)
        if (static_cast<std::size_t>(kOperationTable[i].op) != i || kOperationTable[i].verb == nullptr ||
            kOperationTable[i].verb[0] == '\0')
            return false;
    return true;
}
constexpr std::size_t OfferedCount() {
    std::size_t n = 0;
    for (const OperationEntry& e : kOperationTable) n += e.offeredByAnalysis ? 1 : 0;
    return n;
}
template <std::size_t N>
constexpr std::array<Operation, N> OfferedOperations() {
    std::array<Operation, N> all{};
    std::size_t n = 0;
    for (const OperationEntry& e : kOperationTable)
        if (e.offeredByAnalysis) all[n++] = e.op;
    return all;
}
}  // namespace detail
static_assert(detail::TableInEnumOrder(), "kOperationTable: one row per Operation, in the enum's order, each named");

// The operations an analysis offers or refuses, in the order of the table.
inline constexpr auto kAllOperations = detail::OfferedOperations<detail::OfferedCount()>();

// The operation's own name, as velmora-cli calls its verb ("split", "set-rate", …).
constexpr const char* OperationName(Operation op) {
    const auto i = static_cast<std::size_t>(op);
    return i < kOperationTable.size() ? kOperationTable[i].verb : "";
}

class OperationSet {
public:
    OperationSet() = default;
    OperationSet(std::initializer_list<Operation> ops) {
        for (Operation op : ops) insert(op);
    }
    bool contains(Operation op) const { return bits_.test(Index(op)); }
    void insert(Operation op) { bits_.set(Index(op)); }
    void erase(Operation op) { bits_.reset(Index(op)); }
    void set(Operation op, bool allowed) { bits_.set(Index(op), allowed); }
    bool operator==(const OperationSet&) const = default;

private:
    static std::size_t Index(Operation op) { return static_cast<std::size_t>(op); }
    std::bitset<kOperationCount> bits_;
};

// The operations an analysis allows, or nullopt when it stopped before it
// could judge the file (no RIFF, fmt or data chunk, a frame size of 0): the
// front end then leaves what it offered before. A stored rate of 0 allows the
// rate rewrite alone.
std::optional<OperationSet> AllowedOperations(const WaveInfo& info, const AnalysisResult& result);

// Why an operation is not offered: a stable code that scripts can compare
// (ReasonId gives its ASCII name, "mono-file", "tag-footer", …) and one
// short sentence for the user.
enum class Reason {
    None,          // offered
    NoRiff,        // the analysis stopped: no RIFF header
    NoFormat,      // … no format chunk
    NoData,        // … no data chunk
    ZeroDivision,  // … a frame size or rate of 0
    Compressed,
    TagFooter,
    RiffSizeWrong,
    TailNotChunks,
    MonoFile,
    Resolution,
    StereoOnly,
    NotStereo16,
    PlainFormat,
    NoFooter,
    RiffSizeRight,
    DataSizeRight,
    DataNotInChain,
    FrameLayout,
    FormatTooShort,
    ChunksOverlap,
    UnusableLayout,
    UnknownLayout,
    DataSizeFirst,    // the data size is wrong too: the recovery sets both sizes
    TooManyChannels,  // more channels than the loudness weights name
    NoRule,           // an operation without a rule is offered for no file
};
const char* ReasonId(Reason reason);
// The text of each refusal the rules give in words of their own.
std::vector<std::pair<Reason, const char*>> ReasonTexts();
// A refusal that only says the file needs nothing (its sizes are right already).
constexpr bool NeedsNothing(Reason reason) {
    return reason == Reason::RiffSizeRight || reason == Reason::DataSizeRight;
}

struct Refusal {
    Reason code = Reason::None;
    std::string text;
};

// Why each operation is not offered; code None and no text for one that is.
using OperationReasons = std::array<Refusal, kOperationCount>;
OperationReasons WhyNotOffered(const WaveInfo& info, const AnalysisResult& result);
inline const std::string& WhyNot(const OperationReasons& reasons, Operation op) {
    return reasons[static_cast<std::size_t>(op)].text;
}
inline Reason WhyNotCode(const OperationReasons& reasons, Operation op) {
    return reasons[static_cast<std::size_t>(op)].code;
}

}  // namespace velmora
