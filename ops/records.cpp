#include "ops/records.h"

#include <algorithm>
#include <cctype>

namespace velmora {

std::string OptionKey(const VerbOption& option) {
    const std::string names = option.names;
    const std::size_t comma = names.rfind(',');
    std::string last = comma == std::string::npos ? names : names.substr(comma + 1);
    last.erase(0, last.find_first_not_of('-'));
    std::transform(last.begin(), last.end(), last.begin(), [](unsigned char c) { return std::tolower(c); });
    return last;
}

const OperationRecord& RecordOf(Operation op) { return *kOperationTable[static_cast<std::size_t>(op)].record; }

std::vector<Operation> OperationsOfVerb(const std::string& verb) {
    std::vector<Operation> own, others;
    for (const OperationEntry& e : kOperationTable) {
        if (verb == e.verb) own.push_back(e.op);
        const char* also = e.record->alsoUnder;
        if (also != nullptr && verb == also) others.push_back(e.op);
    }
    own.insert(own.end(), others.begin(), others.end());
    return own;
}

std::optional<Operation> RecordForVerb(const std::string& verb, const OptionValues& options) {
    std::optional<Operation> fallback;
    for (Operation op : OperationsOfVerb(verb)) {
        const OperationRecord& record = RecordOf(op);
        const bool ownVerb = verb == OperationName(op);
        if (record.chosen != nullptr && record.chosen(options)) return op;
        // A record answers to its own verb without being chosen when it is the only one there.
        if (!fallback && ownVerb && (record.chosen == nullptr || OperationsOfVerb(verb).size() == 1)) fallback = op;
    }
    return fallback;
}

std::vector<std::string> AllVerbs() {
    std::vector<std::string> verbs;
    for (const OperationEntry& e : kOperationTable)
        if (std::find(verbs.begin(), verbs.end(), e.verb) == verbs.end()) verbs.emplace_back(e.verb);
    return verbs;
}

}  // namespace velmora
