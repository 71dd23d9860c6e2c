#include "win32/NoticeDialogs.h"

#include "win32/resource.h"

namespace veltrad {

int NoticeTemplate(Notice notice)
{
    switch (notice) {
    case Notice::Complete: return IDD_COMPLETE;
    case Notice::CommError: return IDD_COMMERROR;
    case Notice::CommErrorRetry: return IDD_COMMERROR_RETRY;
    case Notice::Fail: break;
    }
    return IDD_FAIL;
}

namespace {

INT_PTR CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: CenterWindow(box, GetWindow(box, GW_OWNER)); return TRUE;  // the focus goes to the OK button
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(box, LOWORD(wParam));
            return TRUE;
        }
        break;
    default: break;
    }
    return FALSE;
}

}  // namespace

void RunModalBox(HINSTANCE instance, int templateId, HWND owner)
{
    // The result tells nothing the caller needs: every way out is the same.
    DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, BoxProc, 0);
}

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

}  // namespace veltrad
