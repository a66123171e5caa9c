// velmora-cli recover FILE...
#include "ops/recover.h"
#include "verbs.h"

namespace velmora::cli {

void RegisterRecover(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "recover", "Set the data and RIFF sizes of each unfinalized recording in place from its length");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("FILE", *files, "WAV files to patch")->required();
    cmd->callback([&action, files] {
        action = [files] {
            // No gate: a file that needs nothing is told so by the operation
            // itself, not refused as an unoffered one.
            return RunOnEach(*files, std::nullopt,
                             [](const std::string& path, WaveInfo& info, Host& host) -> std::vector<std::string> {
                                 AnalysisResult result;
                                 if (!AnalyseForOperation(path, info, result)) return {};
                                 return RecoverDataSize(info, {path}, host);
                             });
        };
    });
}

}  // namespace velmora::cli
