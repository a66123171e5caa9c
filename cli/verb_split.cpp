// velmora-cli split FILE... [-o DIR] [-n] [--no-clobber]
#include <iostream>

#include "ops/output_paths.h"
#include "ops/split.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

int RunSplit(const std::vector<std::string>& files, const std::string& outputDir, const WriteChoice& write) {
    FileJob job;
    job.gate = Operation::Split;
    job.write = write;
    job.plan = [&](const std::string& path, const WaveInfo& info) {
        // The names ChannelSplit gives; an unnamed layout refuses here as there.
        const std::vector<std::string> names = SplitSpeakerNames(info.extChannelMask, info.format.channels);
        std::vector<PlannedOutput> plan;
        for (std::size_t c = 0; c < names.size() && c < static_cast<std::size_t>(info.format.channels); ++c)
            plan.push_back({OutputPath(outputDir, path, "(" + names[c] + ")(" + std::to_string(c) + ").wav")});
        return plan;
    };
    job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
        return ChannelSplit(info, {path, outputDir}, host);
    };
    return RunOnEach(files, job);
}

}  // namespace

void RegisterSplit(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "split",
        "Write every channel of each FILE into a mono file named after its speaker, FILE(Speaker)(N).wav. "
        "Takes 8/16/24/32-bit integer and 32/64-bit float samples; more than two channels need a layout "
        "(an extensible channel mask, or 4 or 6 channels)");
    auto files = std::make_shared<std::vector<std::string>>();
    auto output = std::make_shared<std::string>();
    auto write = std::make_shared<WriteChoice>();
    cmd->add_option("FILE", *files, "WAV files to split")->required();
    cmd->add_option("-o,--output", *output, "Output folder (default: each file's folder)");
    AddWriteOptions(cmd, *write);
    cmd->callback([&action, files, output, write] {
        action = [files, output, write] { return RunSplit(*files, *output, *write); };
    });
}

}  // namespace velmora::cli
