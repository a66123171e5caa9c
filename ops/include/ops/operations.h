// Which operations a file allows, decided from the facts its analysis found.
// Front ends map each operation to what they show: the window to its
// controls, the CLI to its verbs.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <optional>
#include <string>

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
    Count,          // no operation: how many there are; new ones go above
};

inline constexpr std::size_t kOperationCount = static_cast<std::size_t>(Operation::Count);

// Every operation once, in the order of the enum, with the name velmora-cli
// gives its verb. A new Operation without its row here does not compile.
struct OperationEntry {
    Operation op;
    const char* verb;
};
inline constexpr std::array<OperationEntry, kOperationCount> kOperationTable = {{
    {Operation::Split, "split"},
    {Operation::Surround, "surround"},
    {Operation::Normalize, "normalize"},
    {Operation::RebuildHeader, "rebuild-header"},
    {Operation::Multiplex, "mux"},
    {Operation::RemoveFooter, "remove-footer"},
    {Operation::SetRate, "set-rate"},
    {Operation::FixRiffSize, "fix-riff-size"},
    {Operation::Recover, "recover"},
}};

namespace detail {
constexpr bool TableInEnumOrder() {
    for (std::size_t i = 0; i < kOperationTable.size(); ++i)
        if (static_cast<std::size_t>(kOperationTable[i].op) != i || kOperationTable[i].verb == nullptr ||
            kOperationTable[i].verb[0] == '\0')
            return false;
    return true;
}
constexpr std::array<Operation, kOperationCount> AllOperations() {
    std::array<Operation, kOperationCount> all{};
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = kOperationTable[i].op;
    return all;
}
}  // namespace detail
static_assert(detail::TableInEnumOrder(), "kOperationTable: one row per Operation, in the enum's order, each named");

inline constexpr std::array<Operation, kOperationCount> kAllOperations = detail::AllOperations();

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
    std::bitset<kAllOperations.size()> bits_;
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
    None,            // offered
    NoRiff,          // the analysis stopped: no RIFF header
    NoFormat,        // … no format chunk
    NoData,          // … no data chunk
    ZeroDivision,    // … a frame size or rate of 0
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
};
const char* ReasonId(Reason reason);

struct Refusal {
    Reason code = Reason::None;
    std::string text;
};

// Why each operation is not offered; code None and no text for one that is.
using OperationReasons = std::array<Refusal, kAllOperations.size()>;
OperationReasons WhyNotOffered(const WaveInfo& info, const AnalysisResult& result);
inline const std::string& WhyNot(const OperationReasons& reasons, Operation op) {
    return reasons[static_cast<std::size_t>(op)].text;
}
inline Reason WhyNotCode(const OperationReasons& reasons, Operation op) {
    return reasons[static_cast<std::size_t>(op)].code;
}

}  // namespace velmora
