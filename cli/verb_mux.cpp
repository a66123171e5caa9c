// velmora-cli mux [--left F] [--right F] [--center F] [--lfe F] [--s-left F]
//                 [--s-right F] [--plain] [--cue] [-o DIR] [-n] [--no-clobber]
#include <algorithm>
#include <array>
#include <iostream>
#include <memory>

#include "ops/multiplex.h"
#include "ops/output_paths.h"
#include "verbs.h"

namespace velmora::cli {

int RunMux(Operation, const std::vector<std::string>&, const OptionValues& args, const WriteChoice& write) {
    // The rows' options come first in the record, in row order.
    const auto rowKey = [](int row) {
        return OptionKey(RecordOf(Operation::Multiplex).options[static_cast<std::size_t>(row)]);
    };
    bool none = true;
    for (int row = 0; row < kChannelRows; ++row) none = none && args.text(rowKey(row)).empty();
    if (none) return UsageError("mux", std::string(kTextNoChannelFiles) + " (give at least one of --left … --s-right)");
    WaveInfo info;
    ChannelList list;
    std::string lastPath;
    AnalysisResult lastAnalysis;
    // Registered in row order, as a user dropping them one after the other.
    for (int row = 0; row < kChannelRows; ++row) {
        const std::string path = args.text(rowKey(row));
        if (path.empty()) continue;
        ChannelRegistration reg;
        try {
            reg = RegisterChannelFile(row, path, info, list);
        } catch (const VelmoraError& e) {
            PrintAbout(path, ErrorText(e));
            return kExitFailed;
        }
        for (const auto& m : reg.analysis.messages) PrintAbout(path, m);
        if (reg.analysis.failure) PrintAbout(path, *reg.analysis.failure);
        if (reg.refusal) PrintAbout(path, *reg.refusal);
        if (!reg.registered) return kExitFailed;
        lastPath = path;
        lastAnalysis = std::move(reg.analysis);
    }
    // The window offers "多重化" only when the file registered last allows it.
    const std::optional<OperationSet> allowed = AllowedOperations(info, lastAnalysis);
    if (!(allowed && allowed->contains(Operation::Multiplex))) {
        PrintRefusal(lastPath, Operation::Multiplex, info, lastAnalysis);
        return kExitFailed;
    }

    MultiplexOptions options;
    options.extensible = !args.flag("plain");
    options.cue = args.flag("cue");
    options.outputFolder = OutputFolderFor(args.text("output"), lastPath);
    std::string output;
    try {
        output = MultiplexOutputPath(list, options);
    } catch (const VelmoraError& e) {
        PrintAbout(lastPath, ErrorText(e));
        return kExitFailed;
    }
    if (std::optional<int> done = CheckPlan(output, {{output}}, write)) return *done;

    CliHost host(output);
    double seconds = 0;
    for (int row = 0; row < kChannelRows; ++row) {
        const auto& entry = list.at(row).entry;
        if (entry && entry->samplesPerSec > 0)
            seconds = std::max(seconds, static_cast<double>(entry->frames) / entry->samplesPerSec);
    }
    host.setDuration(seconds);
    std::vector<std::string> written;
    try {
        written = WriteMultiplex(list, options, host);
    } catch (const VelmoraError& e) {
        host.finishProgress();
        PrintAbout(output, ErrorText(e));
        return kExitFailed;
    }
    host.finishProgress();
    for (const auto& p : written) std::cout << TerminalText(p) << '\n';
    return kExitOk;
}

}  // namespace velmora::cli
