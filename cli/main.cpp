#include <iostream>

#include "verbs.h"
#include "wav/error.h"

namespace {

const velmora::cli::VerbRegistrar kVerbs[] = {
    velmora::cli::RegisterInfo,
    velmora::cli::RegisterSplit,
    velmora::cli::RegisterSurround,
    velmora::cli::RegisterNormalize,
    velmora::cli::RegisterRebuildHeader,
    velmora::cli::RegisterFixRiffSize,
    velmora::cli::RegisterRemoveFooter,
    velmora::cli::RegisterSetRate,
    velmora::cli::RegisterRecover,
    velmora::cli::RegisterRaw2Wav,
    velmora::cli::RegisterMux,
};

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora::cli;
    CLI::App app{"Velmora: inspect, repair and transform uncompressed RIFF/WAVE files", "velmora-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmora-cli " VELMORA_VERSION);
    Action action;
    for (auto reg : kVerbs) reg(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (!action) return kExitUsage;
    try {
        return action();
    } catch (const velmora::VelmoraError& e) {
        PrintError(e.what());
        return kExitFailed;
    } catch (const std::exception& e) {
        PrintError(e.what());
        return kExitFailed;
    }
}
