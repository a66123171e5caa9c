// Which operations a file allows, decided from the facts its analysis found.
// Front ends map each operation to what they show: the window to its
// controls, the CLI to its verbs.
#pragma once

#include <array>
#include <bitset>
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
};

inline constexpr std::array<Operation, 9> kAllOperations = {
    Operation::Split,        Operation::Surround, Operation::Normalize,   Operation::RebuildHeader,
    Operation::Multiplex,    Operation::RemoveFooter, Operation::SetRate, Operation::FixRiffSize,
    Operation::Recover,
};

// The operation's own name, as velmora-cli calls its verb ("split", "set-rate", …).
const char* OperationName(Operation op);

class OperationSet {
public:
    OperationSet() = default;
    OperationSet(std::initializer_list<Operation> ops) {
        for (Operation op : ops) insert(op);
    }
    static OperationSet All() {
        OperationSet s;
        s.bits_.set();
        return s;
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

// Why each operation is not offered, one short sentence for the user; empty
// for an operation that is offered.
using OperationReasons = std::array<std::string, kAllOperations.size()>;
OperationReasons WhyNotOffered(const WaveInfo& info, const AnalysisResult& result);
inline const std::string& WhyNot(const OperationReasons& reasons, Operation op) {
    return reasons[static_cast<std::size_t>(op)];
}

}  // namespace velmora
