// velmora-cli recover FILE... [--like GOOD.wav] [--rate N] [--channels N --bits N|--float] [--realign]
#include <algorithm>

#include "ops/recover.h"
#include "rescue_cli.h"
#include "verbs.h"

namespace velmora::cli {

void RegisterRecover(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "recover", "Set the data and RIFF sizes of each unfinalized recording in place from its length");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("FILE", *files, "WAV files to patch")->required();
    auto rescue = std::make_shared<RescueArgs>();
    cmd->add_option("--like", rescue->like,
                    "A healthy recording of the same recorder: rescue FILE into FILE(rescue).wav with its format");
    cmd->add_option("--rate", rescue->rate, "Sampling frequency of a rescued file (default: --like's, else 48000)");
    cmd->add_option("--channels", rescue->channels,
                    "Channels of a file without a header (instead of detecting): 1, 2, 3, 4, 6 or 8")
        ->check(CLI::IsMember({1, 2, 3, 4, 6, 8}));
    cmd->add_option("--bits", rescue->bits, "Bits per sample of a file without a header: 8, 16, 24 or 32")
        ->check(CLI::IsMember({8, 16, 24, 32}));
    cmd->add_flag("--float", rescue->isFloat, "32-bit float samples (a file without a header)");
    cmd->add_flag("--realign", rescue->realign,
                  "Read each stretch at its own alignment after a lost or extra byte: FILE(realign).wav");
    cmd->callback([&action, files, rescue] {
        action = [files, rescue] {
            // Any rescue option, or a file without a RIFF header: the samples
            // are rescued into a new file instead.
            const bool rescuing = !rescue->like.empty() || rescue->realign || !rescue->rate.empty() ||
                                  rescue->channels != 0 || rescue->bits != 0 || rescue->isFloat;
            int status = kExitOk;
            for (const auto& file : *files) {
                const int one =
                    rescuing || !HasRiffHeader(file)
                        ? RunRescue({file}, *rescue)
                        // No gate: a file that needs nothing is told so by the
                        // operation itself, not refused as an unoffered one.
                        : RunOnEach({file}, std::nullopt,
                                    [](const std::string& path, WaveInfo& info, Host& host) -> std::vector<std::string> {
                                        AnalysisResult result;
                                        if (!AnalyseForOperation(path, info, result)) return {};
                                        return RecoverDataSize(info, {path}, host);
                                    });
                status = std::max(status, one);
            }
            return status;
        };
    });
}

}  // namespace velmora::cli
