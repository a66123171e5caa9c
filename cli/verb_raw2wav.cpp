// velmora-cli raw2wav FILE... [--rate N] [--bits 16|8] [--mono] [--detect] [-o DIR] [-n] [--no-clobber]
#include <filesystem>
#include <iostream>
#include <memory>

#include "ops/option_text.h"
#include "ops/output_paths.h"
#include "ops/rawwave.h"
#include "rescue_cli.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

struct Raw2WavArgs {
    std::vector<std::string> files;
    std::string rate;  // as typed; empty: 48000
    int bits = 16;
    bool mono = false;
    std::string outputDir;
    WriteChoice write;
    bool detect = false;
    bool formatGiven = false;  // --bits or --mono typed: the fallback of --detect
};

int RunRaw2Wav(const Raw2WavArgs& args) {
    // Converted as the window converts its "その他" rate, checked when the
    // command line was read.
    const std::int32_t rate = args.rate.empty() ? 48000 : ParseInteger(args.rate);
    const int frameBytes = (args.bits / 8) * (args.mono ? 1 : 2);
    FileJob job;
    job.write = args.write;
    job.plan = [&](const std::string& path, const WaveInfo&) {
        return std::vector<PlannedOutput>{{args.detect ? DetectedRawOutputPath(path, args.outputDir)
                                                       : RawToWaveOutputPath(path, args.outputDir)}};
    };
    const FileOperation plain = [&](const std::string& path, WaveInfo&, Host& host) {
        // No analysis gives the play time: the raw length does.
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(path, ec);
        if (!ec && rate > 0) static_cast<CliHost&>(host).setDuration(static_cast<double>(bytes) / frameBytes / rate);
        RawToWaveOptions options;
        options.rawPath = path;
        options.rate = rate;
        options.bits = args.bits == 16 ? RawBits::Sixteen : RawBits::Eight;
        options.channels = args.mono ? RawChannels::Mono : RawChannels::Stereo;
        options.outputFolder = args.outputDir;
        return RawToWave(options, host);
    };
    if (args.detect)
        return RunDetectedRaw2Wav(args.files, args.rate, args.outputDir, job,
                                  args.formatGiven ? std::optional<FileOperation>(plain) : std::nullopt);
    job.run = plain;
    return RunOnEach(args.files, job);
}

}  // namespace

void RegisterRaw2Wav(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "raw2wav", "Wrap each headerless PCM FILE (little-endian 16-bit signed or 8-bit unsigned) into "
                   "FILE(wavemaker).wav, byte for byte behind a plain 44-byte header (RF64 once the file passes 4 GiB)");
    auto args = std::make_shared<Raw2WavArgs>();
    cmd->add_option("FILE", args->files, "Raw PCM files")->required();
    cmd->add_option("--rate", args->rate, "Sampling frequency, an integer stored as given (default 48000)")
        ->type_name("N")
        ->check(TypedTextCheck([](const std::string& t) { ParseInteger(t); }));
    cmd->add_option("--bits", args->bits, "Bits per sample: 16 (default) or 8")->check(CLI::IsMember({16, 8}));
    cmd->add_flag("--mono", args->mono, "One channel (default: stereo)");
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)")->type_name("DIR");
    cmd->add_flag("--detect", args->detect,
                  "Detect channels, sample format and start from the samples; refuse when not sure unless "
                  "--bits or --mono is given");
    AddWriteOptions(cmd, args->write);
    cmd->callback([&action, args, cmd] {
        args->formatGiven = cmd->count("--bits") > 0 || cmd->count("--mono") > 0;
        action = [args] { return RunRaw2Wav(*args); };
    });
}

}  // namespace velmora::cli
