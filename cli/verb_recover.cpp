// velmora-cli recover FILE... [-n] [--like GOOD.wav] [--rate N] [--channels N --bits N|--float] [--realign]
// velmora-cli rescue FILE... with the same options: always the rescue.
#include <algorithm>

#include "io/file.h"
#include "ops/recover.h"
#include "rescue_cli.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

void AddRescueOptions(CLI::App* cmd, RescueArgs& rescue) {
    cmd->add_option("--like", rescue.like,
                    "A healthy recording of the same recorder: rescue FILE into FILE(rescue).wav with its format");
    cmd->add_option("--rate", rescue.rate, "Sampling frequency of a rescued file (default: --like's, else 48000)");
    cmd->add_option("--channels", rescue.channels,
                    "Channels of a file without a header (instead of detecting): 1, 2, 3, 4, 6 or 8")
        ->check(CLI::IsMember({1, 2, 3, 4, 6, 8}));
    cmd->add_option("--bits", rescue.bits, "Bits per sample of a file without a header: 8, 16, 24 or 32")
        ->check(CLI::IsMember({8, 16, 24, 32}));
    cmd->add_flag("--float", rescue.isFloat, "32-bit float samples (a file without a header)");
    cmd->add_flag("--realign", rescue.realign,
                  "Read each stretch at its own alignment after a lost or extra byte: FILE(realign).wav");
}

}  // namespace

void RegisterRescue(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "rescue",
        "Copy the samples of each FILE whose header is gone or damaged behind a new header into FILE(rescue).wav "
        "(FILE(realign).wav with --realign); FILE itself is only read. Whatever its first bytes, FILE is rescued");
    auto files = std::make_shared<std::vector<std::string>>();
    auto write = std::make_shared<WriteChoice>();
    auto rescue = std::make_shared<RescueArgs>();
    cmd->add_option("FILE", *files, "Recordings to rescue")->required();
    AddWriteOptions(cmd, *write);
    AddRescueOptions(cmd, *rescue);
    cmd->callback([&action, files, write, rescue] {
        action = [files, write, rescue] { return RunRescue(*files, *rescue, *write); };
    });
}

void RegisterRecover(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "recover",
        "Set the data and RIFF sizes of each unfinalized recording (data size 0, 0xFFFFFFFF or past the end) in "
        "place from its length, RF64 included. A file whose sizes are sound is left alone (exit status 0, with a "
        "note)");
    auto files = std::make_shared<std::vector<std::string>>();
    auto write = std::make_shared<WriteChoice>();
    cmd->add_option("FILE", *files, "WAV files to patch")->required();
    AddWriteOptions(cmd, *write);
    auto rescue = std::make_shared<RescueArgs>();
    AddRescueOptions(cmd, *rescue);
    cmd->callback([&action, files, write, rescue] {
        action = [files, write, rescue] {
            // Any rescue option, or a file without a RIFF header: the samples
            // are rescued into a new file instead.
            const bool rescuing = !rescue->like.empty() || rescue->realign || !rescue->rate.empty() ||
                                  rescue->channels != 0 || rescue->bits != 0 || rescue->isFloat;
            std::vector<std::string> rescued, patched;
            for (const auto& file : *files) (rescuing || !HasRiffHeader(file) ? rescued : patched).push_back(file);
            int status = rescued.empty() ? kExitOk : RunRescue(rescued, *rescue, *write);
            if (patched.empty()) return status;
            // No gate: a file that needs nothing is told so by the operation
            // itself, not refused as an unoffered one.
            FileJob job;
            job.analyse = true;
            job.write = *write;
            job.emptyIsNothingToDo = true;
            // A patch in place has nothing to clobber: only the dry run plans.
            if (write->dryRun) job.plan = [](const std::string& path, const WaveInfo& info) {
                File file = File::OpenRead(path);
                const std::optional<SizeRepair> sizes = PlanRecovery(file, info);
                if (!sizes) {
                    PrintNote(path, kTextDataSizeHealthy);
                    return std::vector<PlannedOutput>{};
                }
                return std::vector<PlannedOutput>{
                    {path, true,
                     "data size " + std::to_string(info.dataSize) + " -> " + std::to_string(sizes->dataSize) +
                         ", RIFF size " + std::to_string(info.riffSize) + " -> " + std::to_string(sizes->riffSize)}};
            };
            job.run = [](const std::string& path, WaveInfo& info, Host& host) {
                return RecoverDataSize(info, {path}, host);
            };
            return std::max(status, RunOnEach(patched, job));
        };
    });
}

}  // namespace velmora::cli
