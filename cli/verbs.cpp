// Every verb that writes, registered from the operations' records: its help,
// its options with their checks, -n and --no-clobber, and the record the
// options choose.
#include <algorithm>
#include <iostream>
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

void AddOption(CLI::App* cmd, VerbState& state, const VerbOption& option) {
    const std::string key = OptionKey(option);
    if (state.given.count(key)) return;  // shared by two records of the verb
    CLI::Option* opt = nullptr;
    if (option.kind == OptionKind::Flag) {
        opt = cmd->add_flag(option.names, state.flags[key], option.help);
    } else {
        opt = cmd->add_option(option.names, state.values[key], option.help);
        if (option.typeName) opt->type_name(option.typeName);
        if (option.check) opt->check(TypedTextCheck(option.check));
        if (option.choices) opt->check(CLI::IsMember(Choices(option.choices)))->type_name("INT");
        if (option.required) opt->required();
    }
    state.given[key] = opt;
}

void AddOptions(CLI::App* cmd, VerbState& state, const std::vector<Operation>& ops, bool positional, bool own) {
    for (Operation op : ops) {
        if ((std::string(OperationName(op)) == cmd->get_name()) != own) continue;
        for (const VerbOption& option : RecordOf(op).options)
            if ((option.names[0] != '-') == positional) AddOption(cmd, state, option);
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
        for (const VerbOption& option : RecordOf(op).options)
            if (option.excludes && state->given.count(option.excludes))
                state->given[OptionKey(option)]->excludes(state->given[option.excludes]);
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

namespace velmora::cli {

namespace {

std::string Spaced(const char* list) {
    std::string out = list;
    std::replace(out.begin(), out.end(), ',', ' ');
    return out;
}

// What the completion offers after one option: its choices, folders, WAV
// files, or nothing (a free value).
std::string ValuesAfter(const VerbOption& option) {
    if (option.choices) return Spaced(option.choices);
    const std::string type = option.typeName ? option.typeName : "";
    if (type == "DIR") return "dirs";
    if (type == "F" || type == "GOOD") return "wavs";
    return "value";
}

}  // namespace

int PrintCompletion(CLI::App& app, const std::vector<std::string>& words) {
    if (words.empty()) {
        for (const CLI::App* sub : app.get_subcommands({})) std::cout << sub->get_name() << '\n';
        return kExitOk;
    }
    const std::string& verb = words.front();
    CLI::App* sub = nullptr;
    for (CLI::App* s : app.get_subcommands({}))
        if (s->get_name() == verb) sub = s;
    if (sub == nullptr) return kExitUsage;
    std::string options;
    for (const CLI::Option* opt : sub->get_options()) {
        if (opt != sub->get_help_ptr())
            for (const std::string& n : opt->get_snames()) options += " -" + n;
        for (const std::string& n : opt->get_lnames()) options += " --" + n;
    }
    std::cout << "options" << options << '\n';
    const std::vector<Operation> ops = OperationsOfVerb(verb);
    // A verb that may run a record of any file (recover as the rescue) completes any file.
    std::string files = ops.empty() ? "wav" : RecordOf(ops.front()).input == Input::MonoFiles ? "none" : "wav";
    for (Operation op : ops)
        if (RecordOf(op).input == Input::AnyFile) files = "any";
    std::cout << "files " << files << '\n';
    for (Operation op : ops)
        for (const VerbOption& option : RecordOf(op).options) {
            if (option.names[0] != '-') {
                if (option.examples) std::cout << "first " << Spaced(option.examples) << '\n';
                continue;
            }
            if (option.kind == OptionKind::Flag) continue;
            std::stringstream names(option.names);
            for (std::string name; std::getline(names, name, ',');)
                std::cout << name << ' ' << ValuesAfter(option) << '\n';
        }
    return kExitOk;
}

}  // namespace velmora::cli
