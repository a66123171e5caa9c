// Every verb of velmora-cli; main.cpp lists them in kVerbs.
#pragma once

#include "common.h"

namespace velmora::cli {

void RegisterInfo(CLI::App& app, Action& action);
void RegisterSplit(CLI::App& app, Action& action);
void RegisterSurround(CLI::App& app, Action& action);
void RegisterNormalize(CLI::App& app, Action& action);
void RegisterRebuildHeader(CLI::App& app, Action& action);
void RegisterFixRiffSize(CLI::App& app, Action& action);
void RegisterRemoveFooter(CLI::App& app, Action& action);
void RegisterSetRate(CLI::App& app, Action& action);
void RegisterRaw2Wav(CLI::App& app, Action& action);
void RegisterMux(CLI::App& app, Action& action);
void RegisterRecover(CLI::App& app, Action& action);
void RegisterRescue(CLI::App& app, Action& action);

}  // namespace velmora::cli
