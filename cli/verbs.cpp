// Every verb that writes, registered from the operations' records: its help,
// its options with their checks, -n and --no-clobber, and the record the
// options choose.
#include <map>
#include <memory>
#include <sstream>

#include "verbs.h"

namespace velmora::cli {

namespace {

struct VerbState {
    std::vector<std::string> files;
    std::map<std::string, std::string> values;  // by key, as typed
    std::map<std::string, bool> flags;
    std::map<std::string, CLI::Option*> given;  // by key
    WriteChoice write;
};

std::vector<std::string> Choices(const char* list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) out.push_back(item);
    return out;
}

void AddOption(CLI::App* cmd, VerbState& state, const OptionSpec& spec) {
    const std::string key = OptionKey(spec);
    if (state.given.count(key)) return;  // shared by two records of the verb
    CLI::Option* opt = nullptr;
    if (spec.kind == OptionKind::Flag) {
        opt = cmd->add_flag(spec.names, state.flags[key], spec.help);
    } else {
        opt = cmd->add_option(spec.names, state.values[key], spec.help);
        if (spec.typeName) opt->type_name(spec.typeName);
        if (spec.check) opt->check(TypedTextCheck(spec.check));
        if (spec.choices) opt->check(CLI::IsMember(Choices(spec.choices)))->type_name("INT");
        if (spec.required) opt->required();
    }
    state.given[key] = opt;
}

void AddOptions(CLI::App* cmd, VerbState& state, const std::vector<Operation>& ops, bool positional, bool own) {
    for (Operation op : ops) {
        if ((std::string(OperationName(op)) == cmd->get_name()) != own) continue;
        for (const OptionSpec& spec : RecordOf(op).options)
            if ((spec.names[0] != '-') == positional) AddOption(cmd, state, spec);
    }
}

OptionValues ValuesOf(const VerbState& state) {
    OptionValues values;
    for (const auto& [key, opt] : state.given) {
        if (opt->count() == 0) continue;
        const auto text = state.values.find(key);
        values.set(key, text != state.values.end() ? text->second : "1");
    }
    return values;
}

void RegisterVerb(CLI::App& app, Action& action, const std::string& verb, RecordRunner runner) {
    const std::vector<Operation> ops = OperationsOfVerb(verb);
    const OperationRecord& own = RecordOf(ops.front());
    auto* cmd = app.add_subcommand(verb, own.summary);
    auto state = std::make_shared<VerbState>();
    AddOptions(cmd, *state, ops, true, true);
    if (own.input != Input::MonoFiles) cmd->add_option("FILE", state->files, own.filesHelp)->required();
    AddOptions(cmd, *state, ops, false, true);
    AddWriteOptions(cmd, state->write);
    // The options of records that answer to this verb too (recover's rescue).
    AddOptions(cmd, *state, ops, false, false);
    for (Operation op : ops)
        for (const OptionSpec& spec : RecordOf(op).options)
            if (spec.excludes && state->given.count(spec.excludes))
                state->given[OptionKey(spec)]->excludes(state->given[spec.excludes]);
    cmd->callback([&action, state, verb, runner] {
        action = [state, verb, runner] {
            const OptionValues values = ValuesOf(*state);
            const std::optional<Operation> op = RecordForVerb(verb, values);
            if (!op) return UsageError(verb, "no operation for these options");
            return runner(*op, state->files, values, state->write);
        };
    });
}

}  // namespace

void RegisterRecordVerbs(CLI::App& app, Action& action) {
    for (const std::string& verb : AllVerbs()) {
        const std::optional<Operation> op = OperationsOfVerb(verb).front();
        RecordRunner runner = RunOnEach;
        if (op == Operation::Normalize) runner = RunNormalize;
        if (op == Operation::Multiplex) runner = RunMux;
        RegisterVerb(app, action, verb, runner);
    }
}

}  // namespace velmora::cli
