// velmora-cli split FILE... [-o DIR]
#include <iostream>

#include "ops/split.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

int RunSplit(const std::vector<std::string>& files, const std::string& outputDir) {
    int status = kExitOk;
    for (const auto& path : files) {
        CliHost host;
        try {
            WaveInfo info;
            AnalysisResult result;
            if (!AnalyseForOperation(path, info, result)) {
                status = kExitFailed;
                continue;
            }
            if (!result.enabled || !result.enabled->Button3) {
                PrintRefusal(path, "split");
                status = kExitFailed;
                continue;
            }
            SplitOptions options{path, OutputFolderFor(path, outputDir)};
            std::vector<std::string> written = ChannelSplit(info, options, host);
            host.finishProgress();
            for (const auto& out : written) std::cout << out << '\n';
            std::cout.flush();
        } catch (const VelmoraError& e) {
            host.finishProgress();
            PrintError(e.what());
            status = kExitFailed;
        }
    }
    return status;
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
