// velmora-cli mux [--left F] [--right F] [--center F] [--lfe F] [--s-left F]
//                 [--s-right F] [--plain] [--cue] [-o DIR]
#include <array>
#include <iostream>
#include <memory>

#include "ops/multiplex.h"
#include "ops/output_paths.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

struct MuxArgs {
    std::array<std::string, kChannelRows> files;
    bool plain = false;
    bool cue = false;
    std::string output;
};

int RunMux(const MuxArgs& args) {
    WaveInfo info;
    ChannelList list;
    std::string lastPath;
    AnalysisResult lastAnalysis;
    // Registered in row order, as a user dropping them one after the other.
    for (int row = 0; row < kChannelRows; ++row) {
        const std::string& path = args.files[static_cast<std::size_t>(row)];
        if (path.empty()) continue;
        ChannelRegistration reg = RegisterChannelFile(row, path, info, list);
        for (const auto& m : reg.analysis.messages) PrintError(m);
        if (reg.analysis.failure) PrintError(*reg.analysis.failure);
        if (reg.refusal) PrintError(path + ": " + *reg.refusal);
        if (!reg.registered) return kExitFailed;
        lastPath = path;
        lastAnalysis = std::move(reg.analysis);
    }
    // The window offers "多重化" only when the file registered last allows it.
    const std::optional<OperationSet> allowed = lastPath.empty() ? std::nullopt : AllowedOperations(info, lastAnalysis);
    if (!lastPath.empty() && !(allowed && allowed->contains(Operation::Multiplex))) {
        PrintRefusal(lastPath, Operation::Multiplex, info, lastAnalysis);
        return kExitFailed;
    }

    MultiplexOptions options;
    options.extensible = !args.plain;
    options.cue = args.cue;
    options.outputFolder = lastPath.empty() ? args.output : OutputFolderFor(args.output, lastPath);
    CliHost host;
    std::vector<std::string> written;
    try {
        written = WriteMultiplex(list, options, host);
    } catch (...) {
        host.finishProgress();
        throw;
    }
    host.finishProgress();
    for (const auto& p : written) std::cout << p << '\n';
    return kExitOk;
}

}  // namespace

void RegisterMux(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("mux", "Multiplex mono WAV files, one per speaker, into one multichannel file");
    auto args = std::make_shared<MuxArgs>();
    const char* options[kChannelRows] = {"--left", "--right", "--center", "--lfe", "--s-left", "--s-right"};
    for (int row = 0; row < kChannelRows; ++row)
        cmd->add_option(options[row], args->files[static_cast<std::size_t>(row)],
                        std::string("Mono file for the ") + ChannelCaption(row) + " channel");
    auto* plain = cmd->add_flag("--plain", args->plain, "Plain 16-byte format chunk (no extensible header)");
    cmd->add_flag("--cue", args->cue, "Add the empty cue chunk (extensible header only)")->excludes(plain);
    cmd->add_option("-o,--output", args->output, "Output folder (default: folder of the last file given)");
    cmd->callback([&action, args] { action = [args] { return RunMux(*args); }; });
}

}  // namespace velmora::cli
