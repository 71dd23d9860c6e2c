#include "win32/WindowHelpers.h"

#include "win32/Dpi.h"
#include "platform/Utf16_win32.h"

#include <commctrl.h>

#include <cstring>

namespace veltrad {
namespace {

// The tooltip's widest line, in pixels at 96 dpi.
constexpr int kToolTipMaxWidth96 = 600;

TTTOOLINFOW Tool(HWND owner, HWND control, const wchar_t* text)
{
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    return tool;
}

}  // namespace

void CenterWindow(HWND window, HWND over)
{
    RECT area{};
    if (over && IsWindowVisible(over) && !IsIconic(over)) {
        GetWindowRect(over, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
            return;
        area = monitor.rcWork;
    }
    RECT own{};
    if (!GetWindowRect(window, &own))
        return;
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND ModalOwner(HWND main, HWND ignore)
{
    if (!main || IsWindowEnabled(main))
        return main;
    struct Search {
        HWND main;
        HWND ignore;
        HWND found;
    } search{main, ignore, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            if (window == s.ignore || !IsWindowVisible(window) || !IsWindowEnabled(window))
                return TRUE;
            for (HWND owner = GetWindow(window, GW_OWNER); owner; owner = GetWindow(owner, GW_OWNER)) {
                if (owner == s.main) {
                    s.found = window;
                    return FALSE;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found ? search.found : main;
}

HWND CreateToolTip(HINSTANCE instance, HWND owner, UINT dpi)
{
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
    if (tip)
        SetToolTipWidth(tip, dpi);
    return tip;
}

void SetToolTipWidth(HWND tip, UINT dpi)
{
    if (tip)
        SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, ScaleForDpi(kToolTipMaxWidth96, dpi));
}

void SetToolText(HWND tip, HWND owner, HWND control, const std::wstring& text)
{
    if (!tip || !control)
        return;
    TTTOOLINFOW tool = Tool(owner, control, text.c_str());
    TTTOOLINFOW known = Tool(owner, control, nullptr);
    if (!SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&known)))
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    else
        SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void RemoveTool(HWND tip, HWND owner, HWND control)
{
    if (!tip)
        return;
    TTTOOLINFOW tool = Tool(owner, control, nullptr);
    SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool AnswerSessionEnd(HWND dialog, UINT message, WPARAM wParam, bool busy, std::string_view reason,
                      const std::function<void()>& end)
{
    if (message == WM_QUERYENDSESSION) {
        if (busy)
            ShutdownBlockReasonCreate(dialog, Widen(reason).c_str());
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, busy ? FALSE : TRUE);
        return true;
    }
    if (message != WM_ENDSESSION)
        return false;
    if (wParam)
        end();
    else
        ShutdownBlockReasonDestroy(dialog);
    return true;
}

bool CopyToClipboard(HWND owner, const std::wstring& text)
{
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool done = false;
    if (void* data = memory ? GlobalLock(memory) : nullptr) {
        std::memcpy(data, text.c_str(), bytes);
        GlobalUnlock(memory);
        // The clipboard owns the memory once it took it.
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!done && memory)
        GlobalFree(memory);
    CloseClipboard();
    return done;
}

}  // namespace veltrad
