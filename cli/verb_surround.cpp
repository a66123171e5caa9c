// velmora-cli surround FILE... [--delay MS] [--swap] [--plain] [--cue] [-o DIR] [-n] [--no-clobber]
#include <iostream>

#include "ops/option_text.h"
#include "ops/surround.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

struct SurroundArgs {
    std::vector<std::string> files;
    std::string outputDir;
    std::string delay = "200";  // as typed: its refusal names it
    bool swap = false;
    bool plain = false;
    bool cue = false;
    WriteChoice write;
};

int RunSurround(const SurroundArgs& args) {
    // Checked when the command line was read; a usage error, before any file.
    const std::int32_t delayMs = ParseSurroundDelay(args.delay);
    const auto options = [&](const std::string& path) {
        SurroundOptions o;
        o.source = path;
        o.outputFolder = args.outputDir;
        o.delayMs = delayMs;
        o.swapRear = args.swap;
        o.header = args.plain ? SurroundHeader::Plain : SurroundHeader::Extensible;
        o.cue = args.cue;
        return o;
    };
    FileJob job;
    job.gate = Operation::Surround;
    job.write = args.write;
    job.plan = [&](const std::string& path, const WaveInfo&) {
        return std::vector<PlannedOutput>{{SurroundOutputPath(options(path))}};
    };
    job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
        return PseudoSurround(info, options(path), host);
    };
    return RunOnEach(args.files, job);
}

}  // namespace

void RegisterSurround(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "surround",
        "Build a pseudo-surround file from each stereo FILE (16/24/32-bit integer or 32/64-bit float): the rear "
        "pair is the front pair delayed. Writes FILE(EX) delay(MSms) 4ch.wav");
    auto args = std::make_shared<SurroundArgs>();
    cmd->add_option("FILE", args->files, "Stereo WAV files")->required();
    cmd->add_option("--delay", args->delay, "Rear delay in milliseconds, an integer 0-1000 (default 200)")
        ->type_name("MS")
        ->check(TypedTextCheck([](const std::string& t) { ParseSurroundDelay(t); }));
    cmd->add_flag("--swap", args->swap, "Exchange left and right in the rear pair; the name gets (SS)");
    auto* plain = cmd->add_flag("--plain", args->plain,
                                "Six-channel plain header (rear pair on channels 5 and 6) instead of the four-channel "
                                "extensible one");
    auto* cue = cmd->add_flag("--cue", args->cue, "Insert the empty cue chunk (extensible header only)");
    cue->excludes(plain);
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)")->type_name("DIR");
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args] { action = [args] { return RunSurround(*args); }; });
}

}  // namespace velmora::cli
