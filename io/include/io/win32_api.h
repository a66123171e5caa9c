// <windows.h> as every Windows source of ours takes it: without the min and
// max macros, which would break std::min and std::max.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
