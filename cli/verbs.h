// The verbs of velmora-cli: info, and one verb per record (ops/records.h).
#pragma once

#include <nlohmann/json.hpp>

#include "common.h"

namespace velmora::cli {

void RegisterInfo(CLI::App& app, Action& action);
void RegisterLevels(CLI::App& app, Action& action);

// How info and levels print: text, one JSON array, or a JSON object a line.
enum class InfoForm { Text, Json, JsonLines };
// A message for JSON: "\r\n" becomes "\n"; the JSON text escapes the rest.
std::string JsonMessage(const std::string& text);
// The JSON text as printed, `extraIndent` spaces after every line break (an
// object inside the array). DEL and the C1 controls (U+0080–U+009F), which
// JSON allows raw but a terminal takes as commands, are escaped as well.
// One pass over the text: a footer of 100,000 chunks makes tens of MB.
std::string JsonText(const nlohmann::json& j, int indent, std::size_t extraIndent);
// Every verb of the records, in the order of the operations' table.
void RegisterRecordVerbs(CLI::App& app, Action& action);

// velmora-cli --complete [VERB]: the verbs, or what a completion offers for
// one verb (its options, its files, the values after each option), for the
// bash completion to read.
int PrintCompletion(CLI::App& app, const std::vector<std::string>& words);

// The runners of the verbs whose front end is their own.
int RunNormalize(Operation op, const std::vector<std::string>& files, const OptionValues& options,
                 const WriteChoice& write);
int RunMux(Operation op, const std::vector<std::string>& files, const OptionValues& options, const WriteChoice& write);

}  // namespace velmora::cli
