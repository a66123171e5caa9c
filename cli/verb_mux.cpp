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

namespace {

struct MuxArgs {
    std::array<std::string, kChannelRows> files;
    bool plain = false;
    bool cue = false;
    std::string output;
    WriteChoice write;
};

// The name WriteMultiplex gives: after the first row's file, (EX) when a
// centre or rear row makes the header extensible.
std::string MuxOutputPath(const MuxArgs& args, const ChannelList& list, const std::string& folder) {
    std::string first;
    bool centre = false;
    for (int row = 0; row < kChannelRows; ++row) {
        if (!list.at(row).registered()) continue;
        if (first.empty()) first = list.at(row).entry->path;
        if (row >= 2) centre = true;
    }
    return OutputPath(folder, first, std::string(centre && !args.plain ? "(EX)" : "") + "(mux).wav");
}

int RunMux(const MuxArgs& args) {
    if (std::all_of(args.files.begin(), args.files.end(), [](const std::string& f) { return f.empty(); }))
        return UsageError("mux", std::string(kTextNoChannelFiles) + " (give at least one of --left … --s-right)");
    WaveInfo info;
    ChannelList list;
    std::string lastPath;
    AnalysisResult lastAnalysis;
    // Registered in row order, as a user dropping them one after the other.
    for (int row = 0; row < kChannelRows; ++row) {
        const std::string& path = args.files[static_cast<std::size_t>(row)];
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
    options.extensible = !args.plain;
    options.cue = args.cue;
    options.outputFolder = OutputFolderFor(args.output, lastPath);
    const std::string output = MuxOutputPath(args, list, options.outputFolder);
    if (std::optional<int> done = CheckPlan(output, {{output}}, args.write)) return *done;

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

}  // namespace

void RegisterMux(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "mux",
        "Multiplex mono WAV files, one per speaker, into one multichannel file named after the first one, "
        "NAME(EX)(mux).wav (NAME(mux).wav with only left and right or --plain). The files must share rate and "
        "bits (8/16/24/32-bit integer or 32/64-bit float)");
    auto args = std::make_shared<MuxArgs>();
    const char* options[kChannelRows] = {"--left", "--right", "--center", "--lfe", "--s-left", "--s-right"};
    for (int row = 0; row < kChannelRows; ++row)
        cmd->add_option(options[row], args->files[static_cast<std::size_t>(row)],
                        std::string("Mono file for the ") + ChannelCaption(row) + " channel")
            ->type_name("F");
    auto* plain = cmd->add_flag("--plain", args->plain,
                                "Plain 16-byte format chunk (no extensible header); with a centre or rear file, six "
                                "channels with silent gaps");
    cmd->add_flag("--cue", args->cue, "Add the empty cue chunk (extensible header only)")->excludes(plain);
    cmd->add_option("-o,--output", args->output, "Output folder (default: folder of the last file given)")
        ->type_name("DIR");
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args] { action = [args] { return RunMux(*args); }; });
}

}  // namespace velmora::cli
