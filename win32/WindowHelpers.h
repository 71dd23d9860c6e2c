#pragma once
// What both windows (Veltrad.exe and VeltradStation.exe) do alike with their
// boxes and tooltips.

#include "win32/WinApi.h"

#include <string>

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

// Puts `text` on the clipboard; false when the clipboard is held elsewhere.
bool CopyToClipboard(HWND owner, const std::wstring& text);

}  // namespace veltrad
