// Every verb of velmora-cli; main.cpp lists them in kVerbs.
#pragma once

#include "common.h"

namespace velmora::cli {

void RegisterInfo(CLI::App& app, Action& action);
void RegisterMux(CLI::App& app, Action& action);

}  // namespace velmora::cli
