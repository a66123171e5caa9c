// velmora-cli raw2wav FILE... [--rate N] [--bits 16|8] [--mono] [--detect] [-o DIR]
#include <iostream>
#include <memory>

#include "ops/option_text.h"
#include "ops/rawwave.h"
#include "rescue_cli.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

struct Raw2WavArgs {
    std::vector<std::string> files;
    std::string rate;  // as typed; empty: 48000
    int bits = 16;
    bool mono = false;
    std::string outputDir;
    bool detect = false;
    bool formatGiven = false;  // --bits or --mono typed: the fallback of --detect
};

int RunRaw2Wav(const Raw2WavArgs& args) {
    std::int32_t rate = 48000;
    try {
        // Converted as the window converts its "その他" rate, once for every file.
        if (!args.rate.empty()) rate = ParseInteger(args.rate);
    } catch (const VelmoraError& e) {
        PrintError(e.what());
        return kExitFailed;
    }
    const FileOperation plain = [&](const std::string& path, WaveInfo&, Host& host) {
        RawToWaveOptions options;
        options.rawPath = path;
        options.rate = rate;
        options.bits = args.bits == 16 ? RawBits::Sixteen : RawBits::Eight;
        options.channels = args.mono ? RawChannels::Mono : RawChannels::Stereo;
        options.outputFolder = args.outputDir;
        return RawToWave(options, host);
    };
    if (args.detect)
        return RunDetectedRaw2Wav(args.files, args.rate, args.outputDir,
                                  args.formatGiven ? std::optional<FileOperation>(plain) : std::nullopt);
    return RunOnEach(args.files, std::nullopt, plain);
}

}  // namespace

void RegisterRaw2Wav(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("raw2wav", "Wrap each headerless PCM FILE into FILE(wavemaker).wav");
    auto args = std::make_shared<Raw2WavArgs>();
    cmd->add_option("FILE", args->files, "Raw PCM files")->required();
    cmd->add_option("--rate", args->rate, "Sampling frequency (default 48000)");
    cmd->add_option("--bits", args->bits, "Bits per sample: 16 (default) or 8")->check(CLI::IsMember({16, 8}));
    cmd->add_flag("--mono", args->mono, "One channel (default: stereo)");
    cmd->add_option("-o,--output", args->outputDir, "Output folder (default: each file's folder)");
    cmd->add_flag("--detect", args->detect,
                  "Detect channels, sample format and start from the samples; refuse when not sure unless "
                  "--bits or --mono is given");
    cmd->callback([&action, args, cmd] {
        args->formatGiven = cmd->count("--bits") > 0 || cmd->count("--mono") > 0;
        action = [args] { return RunRaw2Wav(*args); };
    });
}

}  // namespace velmora::cli
