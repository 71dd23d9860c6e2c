#include "win32/NoticeDialogs.h"

#include "win32/WindowHelpers.h"
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

}  // namespace veltrad
