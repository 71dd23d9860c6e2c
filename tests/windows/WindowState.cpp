// windows_window_state.exe TITLE...: for each title, whether a visible
// top-level window of that title takes input: "enabled", "disabled" or
// "absent". The window's tests ask it what xdotool cannot see under Wine.

#include "platform/Windows_win32.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        const HWND window = ::FindWindowW(nullptr, argv[i]);
        const char* state = "absent";
        if (window && ::IsWindowVisible(window))
            state = ::IsWindowEnabled(window) ? "enabled" : "disabled";
        std::printf("%s\n", state);
    }
    return 0;
}
