// One record per operation: what a front end needs to offer it (its verb,
// summary and typed options), the rule that offers it, the plan of what it
// would write, and the run. Both front ends read the records, so the dry run,
// --no-clobber and the real run all go through the same plan.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ops/host.h"
#include "ops/operations.h"
#include "wav/analysis.h"
#include "wav/waveinfo.h"

namespace velmora {

enum class OptionKind {
    Flag,   // present or not
    Value,  // one value, parsed by the operation (the check refuses bad text as a usage error)
};

struct VerbOption {
    const char* names;  // as a command line spells it: "--delay", "-o,--output", or "RATE" for a positional
    const char* help;
    OptionKind kind = OptionKind::Value;
    const char* typeName = nullptr;                    // "MS", "DIR"
    void (*check)(const std::string& text) = nullptr;  // throws VelmoraError with the parser's words
    const char* excludes = nullptr;                    // the key of an option this one cannot go with
    bool required = false;
    const char* choices = nullptr;   // the only values taken, comma-separated: "16,8"
    const char* examples = nullptr;  // values a completion suggests: "48000,44100"
};

// The key of an option: its long name without dashes, or its positional name
// in lower case ("-o,--output" -> "output", "RATE" -> "rate").
std::string OptionKey(const VerbOption& option);

// The options a user gave, by key; a flag given has the value "1".
class OptionValues {
public:
    void set(const std::string& key, std::string value) { values_[key] = std::move(value); }
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    bool flag(const std::string& key) const { return has(key); }
    std::string text(const std::string& key, const std::string& fallback = {}) const {
        const auto it = values_.find(key);
        return it == values_.end() ? fallback : it->second;
    }

private:
    std::map<std::string, std::string> values_;
};

// One file an operation works on, with its analysis when the record asks for one.
struct Subject {
    std::string path;
    WaveInfo info;
    AnalysisResult result;
    OptionValues options;
};

// What a run would do to one file: new files, or patches of the file itself.
struct PlannedFile {
    PlannedFile(std::string p, bool patch = false, std::string what = {})
        : path(std::move(p)), inPlace(patch), detail(std::move(what)) {}
    std::string path;
    bool inPlace = false;  // a patch of the source itself
    std::string detail;    // what a patch changes
};
struct Plan {
    std::vector<PlannedFile> files;  // none: the file needs nothing
};

// What an operation takes.
enum class Input {
    Wave,       // an analysed WAV file, offered by the rules
    AnyFile,    // any file, analysed or not (raw samples, a broken recording)
    MonoFiles,  // one mono WAV file per speaker (the multiplex)
};

struct OperationRecord {
    const char* summary = "";    // the verb's help
    const char* filesHelp = "";  // what FILE... are
    std::span<const VerbOption> options = {};
    Input input = Input::Wave;
    // Why the analysed file is refused (code None: offered). A record without
    // one is offered for no file.
    Refusal (*rule)(const WaveInfo& info, const AnalysisResult& result) = nullptr;
    // For a record that shares its verb with another, or answers to another
    // verb too: whether the options given choose it.
    const char* alsoUnder = nullptr;
    bool (*chosen)(const OptionValues& options) = nullptr;
    Plan (*plan)(const Subject& subject) = nullptr;
    std::vector<std::string> (*run)(Subject& subject, Host& host) = nullptr;
    // Said after the analysis of a file that is no WAV file it can read: where
    // to turn instead.
    const char* notWaveHint = nullptr;
    // The play time of a file no analysis measured (raw samples), for progress.
    double (*playSeconds)(const Subject& subject) = nullptr;
};

const OperationRecord& RecordOf(Operation op);

// The record a verb's command line runs: among the records of the verb (and
// those that answer to it too), the first whose `chosen` says yes, else the
// one without `chosen`.
std::optional<Operation> RecordForVerb(const std::string& verb, const OptionValues& options);
// Every operation a verb may run, its own first.
std::vector<Operation> OperationsOfVerb(const std::string& verb);
// The verbs, each once, in the order of the table.
std::vector<std::string> AllVerbs();

// The rules' refusal of an operation, or None; a record without a rule refuses
// with code NoRule.
Refusal RuleVerdict(Operation op, const WaveInfo& info, const AnalysisResult& result);

// The folder option every record that writes new files shares.
inline constexpr VerbOption kOutputFolderOption{"-o,--output", "Output folder (default: each file's folder)",
                                                OptionKind::Value, "DIR"};

}  // namespace velmora
