// The station's keys on Windows: Enter, Tab and the characters meant for
// the window go the logic's scan rule's way (station/ScanKeys.h) before the
// dialog manager sees them, so a scan reaches the serial-number field
// wherever the focus is and its Enter presses no button. Enter in the job's
// name or ports ends that edit, as the dialog manager's IDOK.

#include "platform/Utf16_win32.h"
#include "win32/station/StationDlg.h"
#include "win32/station/StationResource.h"

namespace veltrad {
namespace {

bool Held(int key) { return GetKeyState(key) < 0; }

}  // namespace

bool CStationDlg::RouteKey(const MSG& msg)
{
    if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd))
        return false;
    // Keys with Ctrl or Alt are shortcuts; Alt's come as WM_SYSKEYDOWN.
    std::optional<ScanKey> key;
    if (msg.message == WM_KEYDOWN) {
        m_keyDownTime = static_cast<DWORD>(msg.time);
        if (Held(VK_CONTROL) || Held(VK_MENU))
            return false;
        switch (msg.wParam) {
        case VK_RETURN: key = ScanKey::Enter; break;
        case VK_TAB: key = ScanKey::Tab; break;
        // At its key, not its character: a focused button acts on the key.
        case VK_SPACE: key = ScanKey::Space; break;
        default: return false;
        }
    } else if (msg.message == WM_CHAR && msg.wParam > L' ' && msg.wParam != 0x7f) {
        // Ctrl with a letter gives no printable character; AltGr's are typed.
        key = ScanKey::Character;
    } else {
        return false;
    }
    const HWND field = Item(IDC_SERIAL_ENTRY);
    const HWND focus = GetFocus();
    wchar_t kind[16] = {};
    const bool edit = focus && GetClassNameW(focus, kind, 16) && lstrcmpiW(kind, L"Edit") == 0;
    const bool editable = edit && !(GetWindowLongPtrW(focus, GWL_STYLE) & ES_READONLY);
    const KeyFocus where = focus == field ? KeyFocus::SerialField
                           : editable     ? KeyFocus::TextField
                                          : KeyFocus::Elsewhere;
    // A character's time is its key's: the system's time of the key press.
    const std::uint32_t ms = msg.message == WM_CHAR ? m_keyDownTime : static_cast<std::uint32_t>(msg.time);
    switch (m_logic.OnKey(*key, where, Narrow(ItemText(IDC_SERIAL_ENTRY)), ms)) {
    case KeyRoute::AsUsual: return false;
    case KeyRoute::IntoField: {
        // From elsewhere at the end of what the field holds (the dialog
        // manager selects it all when it takes the focus); else at the caret.
        if (focus != field) {
            FocusSerialEntry();
            const auto end = static_cast<WPARAM>(GetWindowTextLengthW(field));
            SendMessageW(field, EM_SETSEL, end, static_cast<LPARAM>(end));
        }
        const wchar_t typed = *key == ScanKey::Tab     ? L'\t'
                              : *key == ScanKey::Space ? L' '
                                                       : static_cast<wchar_t>(msg.wParam);
        const wchar_t text[2] = {typed, 0};
        SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
        return true;
    }
    case KeyRoute::Number: SetDlgItemTextW(m_hWnd, IDC_SERIAL_ENTRY, L""); return true;
    case KeyRoute::Dropped:
    case KeyRoute::StartAll: return true;
    }
    return true;
}

void CStationDlg::OnEnter()
{
    const HWND focus = GetFocus();
    if (focus == Item(IDC_JOB_NAME))
        CommitName();
    else if (focus == Item(IDC_PORTS))
        CommitPorts();
}

}  // namespace veltrad
