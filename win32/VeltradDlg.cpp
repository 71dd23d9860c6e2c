#include "win32/VeltradDlg.h"

#include "win32/Dpi.h"
#include "win32/FileDialogs.h"
#include "win32/NoticeDialogs.h"
#include "win32/QuietBox.h"
#include "platform/Utf16_win32.h"
#include "win32/WindowHelpers.h"
#include "win32/resource.h"

#include <commctrl.h>

#include <utility>

namespace veltrad {

namespace {

// Right after a start the stop button has the focus, and an Enter there is
// the hand going on, not a decision: while the logic says so, the button
// asks for the key (so the dialog manager does not press it) and does
// nothing with it. The same on the close button.
LRESULT CALLBACK EnterGuardProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
{
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(button, EnterGuardProc, id);  // as comctl32 asks, before the button goes
    if (message == WM_GETDLGCODE && lParam != 0) {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        auto* logic = reinterpret_cast<CWindowLogic*>(data);
        constexpr LPARAM kRepeatBit = 1 << 30;
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN &&
            !logic->TakesEnter((msg->lParam & kRepeatBit) != 0))
            return DefSubclassProc(button, message, wParam, lParam) | DLGC_WANTMESSAGE;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

}  // namespace

CVeltradDlg::CVeltradDlg(HINSTANCE instance, CProfile profile)
    : m_hInstance(instance), m_logic(*this, std::move(profile))
{
}

CVeltradDlg::~CVeltradDlg() = default;

INT_PTR CVeltradDlg::DoModal()
{
    return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(IDD_VELTRAD_DIALOG), nullptr, DialogProcOf<CVeltradDlg>,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CVeltradDlg::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    // Answered at once; only an ending session stops the run and the window.
    if (AnswerSessionEnd(m_hWnd, message, wParam, !m_logic.MaySessionEnd(), kSessionBlockReason,
                         [this] { m_logic.OnEndRequested(); }))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_SYSCOMMAND:
        // FALSE hands move, minimise, close and the rest to the default processing.
        return m_logic.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_icons.Big());
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE:  // the close box, Alt+F4, the system menu's Close
        m_logic.OnCancel();
        return TRUE;
    case WM_RUN_EVENTS: m_logic.DeliverRunEvents(); return TRUE;
    case WM_DPICHANGED: UseIconsForDpi(HIWORD(wParam)); return FALSE;  // the dialog rescales itself
    case WM_NCDESTROY:
        // Every run has been joined by now (the logic ends the dialog only so).
        Detach();
        return FALSE;
    default: break;
    }
    return FALSE;
}

BOOL CVeltradDlg::OnInitDialog()
{
    AppendAboutEntry();
    UseIconsForDpi(WindowDpi(m_hWnd));
    for (const int id : {IDC_STOP, IDC_CLOSE})
        SetWindowSubclass(Item(id), EnterGuardProc, 0, reinterpret_cast<DWORD_PTR>(&m_logic));
    CenterWindow(m_hWnd, nullptr);
    KeepDroppedHeight();
    CreatePortTip();
    m_logic.OnInitDialog();
    return TRUE;  // the focus goes to the first tab stop, the open-file button
}

void CVeltradDlg::UseIconsForDpi(UINT dpi)
{
    m_icons.Use(m_hInstance, m_hWnd, dpi);
    SetToolTipWidth(m_hPortTip, dpi);
}

void CVeltradDlg::KeepDroppedHeight()
{
    // Version 6 of the common controls drops 30 entries whatever the template
    // says; show as many as fit in the port list's dropped height, as the
    // older controls do.
    HWND combo = Item(IDC_PORT);
    RECT dropped{0, 0, 0, PORT_LIST_DROPPED_HEIGHT};
    RECT field{};
    MapDialogRect(m_hWnd, &dropped);
    GetWindowRect(combo, &field);
    const int itemHeight = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
    if (itemHeight <= 0)
        return;
    const int visible = (dropped.bottom - (field.bottom - field.top)) / itemHeight;
    SendMessageW(combo, CB_SETMINVISIBLE, static_cast<WPARAM>(visible > 1 ? visible : 1), 0);
}

void CVeltradDlg::AppendAboutEntry()
{
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (!menu)
        return;
    // LoadStringW with a zero length gives a read-only pointer to the text.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(m_hInstance, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return;
    const std::wstring entry(text, static_cast<std::size_t>(length));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kIdmAboutBox, entry.c_str());
}

void CVeltradDlg::OnCommand(WORD id, WORD code)
{
    switch (id) {
    case IDOK:  // Enter with the focus off a push button; not as the hand goes on after a start
        if (m_logic.TakesEnter(false))
            m_logic.OnOK();
        break;
    case IDCANCEL:  // Escape
        m_logic.OnCancel();
        break;
    case IDC_PORT:
        if (code == CBN_DROPDOWN) {
            m_logic.OnPortListOpening();
        } else if (code == CBN_SELCHANGE) {
            ShowPortTip();
            m_logic.OnSelChangePort(static_cast<int>(SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0)));
        }
        break;
    case IDC_OPENFILE:
        if (code == BN_CLICKED)
            m_logic.OnOpenFile();
        break;
    case IDC_DOWNLOAD:
        if (code == BN_CLICKED)
            m_logic.OnDownload();
        break;
    case IDC_STOP:
        if (code == BN_CLICKED)
            m_logic.OnStop();
        break;
    case IDC_CLOSE:
        if (code == BN_CLICKED)
            m_logic.OnCloseDialog();
        break;
    default: break;
    }
}

BOOL CVeltradDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return FALSE;  // the dialog paints itself as usual
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const UINT dpi = WindowDpi(m_hWnd);
    const int iconWidth = MetricAtDpi(SM_CXICON, dpi);
    const int iconHeight = MetricAtDpi(SM_CYICON, dpi);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_icons.Big());
    EndPaint(m_hWnd, &paint);
    return TRUE;
}

void CVeltradDlg::ShowPorts(const std::vector<PortEntry>& ports, int selected)
{
    HWND combo = Item(IDC_PORT);
    // Called again as the list opens: the entries stay, only what the tip says changes.
    if (SendMessageW(combo, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(ports.size())) {
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        for (const PortEntry& port : ports)
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(port.name).c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);  // -1: none
    m_ports = ports;
    ShowPortTip();
}

void CVeltradDlg::CreatePortTip()
{
    m_hPortTip = CreateToolTip(m_hInstance, m_hWnd, WindowDpi(m_hWnd));
    SetToolText(m_hPortTip, m_hWnd, Item(IDC_PORT), L"");
}

// The selected entry's device and, when it is present, what it is.
void CVeltradDlg::ShowPortTip()
{
    const auto selected = static_cast<int>(SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0));
    const bool inList = selected >= 0 && static_cast<std::size_t>(selected) < m_ports.size();
    const std::wstring text = inList ? Widen(PortToolTip(m_ports[static_cast<std::size_t>(selected)])) : L"";
    SetToolText(m_hPortTip, m_hWnd, Item(IDC_PORT), text);
}

void CVeltradDlg::ShowFile(const std::string& name, const std::string& sizeText)
{
    SetDlgItemTextW(m_hWnd, IDC_FILENAME, Widen(name).c_str());
    SetDlgItemTextW(m_hWnd, IDC_FILESIZE, Widen(sizeText).c_str());
}

void CVeltradDlg::SetProgressRange(std::uint32_t maximum)
{
    SendMessageW(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
}

void CVeltradDlg::SetProgressPos(std::uint32_t position)
{
    SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CVeltradDlg::EnableControls(bool enable)
{
    const HWND focus = GetFocus();
    for (const int id : {IDC_PORT, IDC_OPENFILE, IDC_DOWNLOAD}) {
        HWND item = Item(id);
        // A disabled control loses the focus; hand it to the stop button,
        // so the keyboard still reaches the window during a run.
        if (!enable && item == focus)
            SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_STOP)), TRUE);
        EnableWindow(item, enable ? TRUE : FALSE);
    }
}

HWND CVeltradDlg::ModalOwner() const { return veltrad::ModalOwner(m_hWnd, m_hPortTip); }

void CVeltradDlg::ShowNotice(Notice notice)
{
    if (!m_hWnd)
        return;
    const CQuietBox quiet;
    RunModalBox(m_hInstance, NoticeTemplate(notice), ModalOwner());
}

void CVeltradDlg::ShowAbout()
{
    if (m_hWnd)
        RunModalBox(m_hInstance, IDD_ABOUTBOX, ModalOwner());
}

void CVeltradDlg::ShowMessage(const WindowMessage& message)
{
    std::wstring text = Widen(message.text);
    if (!message.detail.empty())
        text += L"\n\n" + Widen(message.detail);
    // The plain OK box with the exclamation icon, captioned with the program's
    // name. Before the window shows (a saved port that does not open), a box
    // owned by it would have no taskbar button: it stands alone then.
    const bool shown = m_hWnd && IsWindowVisible(m_hWnd);
    const CQuietBox quiet;
    MessageBoxW(shown ? ModalOwner() : nullptr, text.c_str(), Widen(kApplicationName).c_str(),
                MB_OK | MB_ICONEXCLAMATION | (shown ? 0 : MB_TASKMODAL | MB_SETFOREGROUND));
}

std::optional<std::filesystem::path> CVeltradDlg::ChooseFile()
{
    return veltrad::ChooseFile(ModalOwner(), FileDialog::Open, L"Binary Files (*.bin)\0*.bin\0All Files (*.*)\0*.*\0");
}

void CVeltradDlg::EndDialog(bool ok)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, ok ? IDOK : IDCANCEL);
}

void CVeltradDlg::OnRunEnded(std::uint64_t, RunOutcome)
{
    if (m_hWnd)
        ShutdownBlockReasonDestroy(m_hWnd);  // a refused logoff may go ahead now
}

void CVeltradDlg::PostRunEvents()
{
    // Never waits for the window's thread. The logic posts once per batch,
    // so the window's queue cannot fill up.
    PostFromAnyThread(WM_RUN_EVENTS);
}

}  // namespace veltrad
