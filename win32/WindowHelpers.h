#pragma once
// What both windows (Veltrad.exe and VeltradStation.exe) do alike with their
// boxes and tooltips.

#include "win32/WinApi.h"

#include <functional>
#include <string>
#include <string_view>

namespace veltrad {

// Centres `window` on `over`, or on its monitor's work area when `over` is null.
void CenterWindow(HWND window, HWND over);

// The window of ours that takes input now: `main`, or the modal box over it
// (About, a file dialog, a message box). Every box opens over it, so none of
// ours stays usable beneath another. `ignore` is a popup of main's that is
// never a box (a tooltip).
HWND ModalOwner(HWND main, HWND ignore);

// A tooltip for controls of `owner`; null when none can be made (the
// controls work without it). Its lines wrap at a width for `dpi`.
HWND CreateToolTip(HINSTANCE instance, HWND owner, UINT dpi);
void SetToolTipWidth(HWND tip, UINT dpi);
// Adds `control` as a tool of `tip` (once), or changes what it says.
void SetToolText(HWND tip, HWND owner, HWND control, const std::wstring& text);
void RemoveTool(HWND tip, HWND owner, HWND control);

// The dialog procedure of a window class Dialog: the object comes with
// WM_INITDIALOG (its lParam), is told its window (CDialogWindow::Attach) and takes every
// message from then on (OnMessage); those before are the dialog's own.
template <class Dialog>
INT_PTR CALLBACK DialogProcOf(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->Attach(dialog);
    }
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

// The desktop session's end, as both windows answer it. WM_QUERYENDSESSION
// at once: refused while `busy`, with `reason` (UTF-8), which Windows shows
// beside the program. WM_ENDSESSION: only TRUE ends the session, and calls
// `end`; a cancelled one takes the reason back. False for other messages.
bool AnswerSessionEnd(HWND dialog, UINT message, WPARAM wParam, bool busy, std::string_view reason,
                      const std::function<void()>& end);

// Puts `text` on the clipboard; false when the clipboard is held elsewhere.
bool CopyToClipboard(HWND owner, const std::wstring& text);

}  // namespace veltrad
