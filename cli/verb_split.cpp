// velmora-cli split FILE... [-o DIR]
#include <iostream>

#include "ops/split.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

int RunSplit(const std::vector<std::string>& files, const std::string& outputDir) {
    return RunOnEach(files, Operation::Split,
                     [&](const std::string& path, WaveInfo& info, Host& host) {
                         return ChannelSplit(info, {path, outputDir}, host);
                     });
}

}  // namespace

void RegisterSplit(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("split", "Write every channel of each FILE into a mono file named after its speaker");
    auto files = std::make_shared<std::vector<std::string>>();
    auto output = std::make_shared<std::string>();
    cmd->add_option("FILE", *files, "WAV files to split")->required();
    cmd->add_option("-o,--output", *output, "Output folder (default: the source's folder)");
    cmd->callback([&action, files, output] { action = [files, output] { return RunSplit(*files, *output); }; });
}

}  // namespace velmora::cli
