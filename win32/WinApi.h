#pragma once
// <windows.h> for the Win32 windows, without the macros that collide with the
// core's names: the profile functions would rename CProfile's methods, and
// mmsystem's PlaySound the station view's.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString
#undef PlaySound
