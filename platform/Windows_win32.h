#pragma once
// <windows.h> as the core's Windows pieces want it: without the rarely used
// parts and without the min/max macros that break std::min and std::max.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
