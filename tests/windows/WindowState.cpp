// windows_window_state.exe TITLE...: for each title, whether a visible
// top-level window of that title takes input: "enabled", "disabled" or
// "absent".
// windows_window_state.exe --texts TITLE: the texts of that window's child
// windows, one a line in UTF-8, as a screen reader reads them (the station's
// tiles say their port and state so).
// The window's tests ask it what xdotool cannot see under Wine.

#include "platform/Windows_win32.h"
#include "platform/Utf16_win32.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace {

BOOL CALLBACK PrintText(HWND child, LPARAM)
{
    wchar_t text[512] = {};
    if (::GetWindowTextW(child, text, static_cast<int>(std::size(text))) > 0)
        std::printf("%s\n", veltrad::Narrow(text).c_str());
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"--texts") == 0) {
        const HWND window = ::FindWindowW(nullptr, argv[2]);
        if (!window)
            return 1;
        ::EnumChildWindows(window, PrintText, 0);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const HWND window = ::FindWindowW(nullptr, argv[i]);
        const char* state = "absent";
        if (window && ::IsWindowVisible(window))
            state = ::IsWindowEnabled(window) ? "enabled" : "disabled";
        std::printf("%s\n", state);
    }
    return 0;
}
