// velmora-cli rebuild-header FILE... [-o DIR]
// velmora-cli fix-riff-size FILE...
// velmora-cli remove-footer FILE... [-o DIR]
// velmora-cli set-rate RATE FILE...
// Each with [-n] [--no-clobber].
#include <iostream>
#include <memory>

#include "ops/option_text.h"
#include "ops/output_paths.h"
#include "ops/repair.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

struct FilesAndFolder {
    std::vector<std::string> files;
    std::string outputDir;
    WriteChoice write;
};

// A copy into <folder>/<base><suffix>.
FileJob CopyJob(Operation gate, const FilesAndFolder& args, const std::string& suffix) {
    FileJob job;
    job.gate = gate;
    job.write = args.write;
    job.plan = [&args, suffix](const std::string& path, const WaveInfo&) {
        return std::vector<PlannedOutput>{{OutputPath(args.outputDir, path, suffix)}};
    };
    return job;
}

}  // namespace

void RegisterRebuildHeader(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "rebuild-header",
        "Copy each 16-bit stereo integer FILE whose format chunk is not the plain 16-byte one into "
        "FILE(reheader).wav with the plain 44-byte header (RF64 once the file passes 4 GiB)");
    auto args = std::make_shared<FilesAndFolder>();
    cmd->add_option("FILE", args->files, "WAV files to rebuild")->required();
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)")->type_name("DIR");
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args] {
        action = [args] {
            FileJob job = CopyJob(Operation::RebuildHeader, *args, "(reheader).wav");
            job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
                return RebuildHeader(info, {path, args->outputDir}, host);
            };
            return RunOnEach(args->files, job);
        };
    });
}

void RegisterFixRiffSize(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "fix-riff-size",
        "Rewrite the RIFF size of each FILE in place to its length less 8. A file whose size already "
        "matches is left alone (exit status 0, with a note)");
    auto args = std::make_shared<FilesAndFolder>();
    cmd->add_option("FILE", args->files, "WAV files to patch")->required();
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args] {
        action = [args] {
            FileJob job;
            job.gate = Operation::FixRiffSize;
            job.write = args->write;
            job.nothingToDo = [](const WaveInfo&, const AnalysisResult& result) -> std::optional<std::string> {
                if (!result.fileSizeOK) return std::nullopt;
                return "the RIFF size already matches the file's length; nothing to do";
            };
            job.plan = [](const std::string& path, const WaveInfo& info) {
                return std::vector<PlannedOutput>{
                    {path, true,
                     "RIFF size " + std::to_string(info.riffSize) + " -> " + std::to_string(info.fileSize - 8)}};
            };
            job.run = [](const std::string& path, WaveInfo& info, Host& host) {
                return RewriteRiffSize(info, {path}, host);
            };
            return RunOnEach(args->files, job);
        };
    });
}

void RegisterRemoveFooter(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("remove-footer",
                                   "Copy each FILE without its trailing LIST chunk into FILE(futta del).wav");
    auto args = std::make_shared<FilesAndFolder>();
    cmd->add_option("FILE", args->files, "WAV files with a LIST footer")->required();
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)")->type_name("DIR");
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args] {
        action = [args] {
            FileJob job = CopyJob(Operation::RemoveFooter, *args, "(futta del).wav");
            job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
                return RemoveFooter(info, {path, args->outputDir}, host);
            };
            return RunOnEach(args->files, job);
        };
    });
}

void RegisterSetRate(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "set-rate", "Rewrite the sampling frequency and the byte rate of each FILE in place; the samples stay as "
                    "they are");
    auto rate = std::make_shared<std::string>();
    auto args = std::make_shared<FilesAndFolder>();
    // A frame of one byte: only the integer and its sign are judged here; the
    // byte rate depends on each file's frame size.
    cmd->add_option("RATE", *rate, "New sampling frequency: an integer of at least 1 (decimal, or hex after $ or 0x)")
        ->required()
        ->check(TypedTextCheck([](const std::string& t) { ParseSampleRate(t, 1); }));
    cmd->add_option("FILE", args->files, "WAV files to patch")->required();
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, rate, args] {
        action = [rate, args] {
            FileJob job;
            job.gate = Operation::SetRate;
            job.write = args->write;
            job.plan = [&](const std::string& path, const WaveInfo& info) {
                const FormatBlock after = RateRewritten(info, ParseSampleRate(*rate, info.format.blockAlign));
                return std::vector<PlannedOutput>{
                    {path, true,
                     "sampling frequency " + std::to_string(info.format.samplesPerSec) + " -> " +
                         std::to_string(after.samplesPerSec) + ", byte rate " +
                         std::to_string(info.format.avgBytesPerSec) + " -> " + std::to_string(after.avgBytesPerSec)}};
            };
            job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
                const std::int32_t value = ParseSampleRate(*rate, info.format.blockAlign);
                return RewriteSampleRate(info, {path, value}, host);
            };
            return RunOnEach(args->files, job);
        };
    });
}

}  // namespace velmora::cli
