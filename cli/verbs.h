// The verbs of velmora-cli: info, and one verb per record (ops/records.h).
#pragma once

#include "common.h"

namespace velmora::cli {

void RegisterInfo(CLI::App& app, Action& action);
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
