#pragma once
// <windows.h> for the Win32 window, without the macros that collide with the
// core's names: the profile functions would rename CProfile's methods.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString
