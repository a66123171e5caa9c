// velmora-cli rebuild-header FILE... [-o DIR]
// velmora-cli fix-riff-size FILE...
// velmora-cli remove-footer FILE... [-o DIR]
// velmora-cli set-rate RATE FILE...
#include <iostream>
#include <memory>

#include "ops/option_text.h"
#include "ops/repair.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

struct FilesAndFolder {
    std::vector<std::string> files;
    std::string outputDir;
};

}  // namespace

void RegisterRebuildHeader(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "rebuild-header", "Copy each FILE with a plain 16-byte format chunk into FILE(reheader).wav");
    auto args = std::make_shared<FilesAndFolder>();
    cmd->add_option("FILE", args->files, "WAV files to rebuild")->required();
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)");
    cmd->callback([&action, args] {
        action = [args] {
            return RunOnEach(args->files, Operation::RebuildHeader,
                             [&](const std::string& path, WaveInfo& info, Host& host) {
                                 return RebuildHeader(info, {path, args->outputDir}, host);
                             });
        };
    });
}

void RegisterFixRiffSize(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("fix-riff-size", "Rewrite the RIFF size of each FILE in place to match its length");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("FILE", *files, "WAV files to patch")->required();
    cmd->callback([&action, files] {
        action = [files] {
            return RunOnEach(*files, Operation::FixRiffSize,
                             [](const std::string& path, WaveInfo& info, Host& host) {
                                 return RewriteRiffSize(info, {path}, host);
                             });
        };
    });
}

void RegisterRemoveFooter(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("remove-footer",
                                   "Copy each FILE without its LIST footer into FILE(futta del).wav");
    auto args = std::make_shared<FilesAndFolder>();
    cmd->add_option("FILE", args->files, "WAV files with a LIST footer")->required();
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)");
    cmd->callback([&action, args] {
        action = [args] {
            return RunOnEach(args->files, Operation::RemoveFooter,
                             [&](const std::string& path, WaveInfo& info, Host& host) {
                                 return RemoveFooter(info, {path, args->outputDir}, host);
                             });
        };
    });
}

void RegisterSetRate(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("set-rate", "Rewrite the sampling frequency of each FILE in place");
    auto rate = std::make_shared<std::string>();
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("RATE", *rate, "New sampling frequency (an integer)")->required();
    cmd->add_option("FILE", *files, "WAV files to patch")->required();
    cmd->callback([&action, rate, files] {
        action = [rate, files] {
            // Checked once before any file is touched.
            // A frame of one byte: only the integer and its sign are judged here.
            try {
                ParseSampleRate(*rate, 1);
            } catch (const VelmoraError& e) {
                PrintError(e.what());
                return kExitFailed;
            }
            return RunOnEach(*files, Operation::SetRate,
                             [&](const std::string& path, WaveInfo& info, Host& host) {
                                 // The byte rate depends on each file's frame size.
                                 const std::int32_t value = ParseSampleRate(*rate, info.format.blockAlign);
                                 return RewriteSampleRate(info, {path, value}, host);
                             });
        };
    });
}

}  // namespace velmora::cli
