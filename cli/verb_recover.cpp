// velmora-cli recover FILE... [-n]
#include "ops/recover.h"
#include "verbs.h"
#include "wav/file.h"

namespace velmora::cli {

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
    cmd->callback([&action, files, write] {
        action = [files, write] {
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
            return RunOnEach(*files, job);
        };
    });
}

}  // namespace velmora::cli
