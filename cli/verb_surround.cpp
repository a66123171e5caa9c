// velmora-cli surround FILE... [--delay MS] [--swap] [--plain] [--cue] [-o DIR]
#include <iostream>

#include "ops/option_text.h"
#include "ops/surround.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

struct SurroundArgs {
    std::vector<std::string> files;
    std::string outputDir;
    std::string delay = "200";  // as typed: its refusal names it
    bool swap = false;
    bool plain = false;
    bool cue = false;
};

int RunSurround(const SurroundArgs& args) {
    // A bad delay is the same for every file: say so once, before any file.
    std::int32_t delayMs = 0;
    try {
        delayMs = ParseSurroundDelay(args.delay);
    } catch (const VelmoraError& e) {
        PrintError(e.what());
        return kExitFailed;
    }
    return RunOnEach(args.files, Operation::Surround,
                     [&](const std::string& path, WaveInfo& info, Host& host) {
                         SurroundOptions options;
                         options.source = path;
                         options.outputFolder = args.outputDir;
                         options.delayMs = delayMs;
                         options.swapRear = args.swap;
                         options.header = args.plain ? SurroundHeader::Plain : SurroundHeader::Extensible;
                         options.cue = args.cue;
                         return PseudoSurround(info, options, host);
                     });
}

}  // namespace

void RegisterSurround(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "surround", "Build a pseudo-surround file from each stereo FILE (16/24/32-bit or float): the rear pair is the front delayed");
    auto args = std::make_shared<SurroundArgs>();
    cmd->add_option("FILE", args->files, "16-bit stereo WAV files")->required();
    cmd->add_option("--delay", args->delay, "Rear delay in milliseconds, 0-1000 (default 200)");
    cmd->add_flag("--swap", args->swap, "Exchange left and right in the rear pair");
    auto* plain = cmd->add_flag("--plain", args->plain, "Six-channel plain header instead of four-channel extensible");
    auto* cue = cmd->add_flag("--cue", args->cue, "Insert the empty cue chunk (extensible header only)");
    cue->excludes(plain);
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: the source's folder)");
    cmd->callback([&action, args] { action = [args] { return RunSurround(*args); }; });
}

}  // namespace velmora::cli
