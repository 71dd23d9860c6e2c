#include "win32/VeltradDlg.h"

#include "win32/NoticeDialogs.h"
#include "win32/Utf16.h"
#include "win32/resource.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cwchar>
#include <utility>

namespace veltrad {

namespace {

// The tooltip's widest line, in pixels at 96 dpi.
constexpr int kPortTipMaxWidth96 = 600;
constexpr int kBaseDpi = 96;

// A function of user32.dll that older systems lack; null there.
template <class Function>
Function User32Function(const char* name)
{
    // Through void (*)(): the documented way to cast a looked-up function.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The window's dpi. Both calls are Windows 10's (1607); older systems have
// one dpi for every window.
UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi && window)
        return getDpi(window);
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

int MetricAtDpi(int metric, UINT dpi)
{
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(metric, dpi) : ::GetSystemMetrics(metric);
}

// The application icon drawn for `dpi`; the caller destroys it.
HICON LoadAppIcon(HINSTANCE instance, int sizeMetric, UINT dpi)
{
    const int size = MetricAtDpi(sizeMetric, dpi);
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
}

// An Enter on the stop button that the keyboard repeats, or that follows the
// one that started the run within a double-click's time, is the operator's
// start going on, not a stop: the button takes the key and does nothing.
LRESULT CALLBACK StopButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
{
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(button, StopButtonProc, id);  // as comctl32 asks, before the button goes
    if (message == WM_GETDLGCODE && lParam != 0) {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        const auto* runStart = reinterpret_cast<const ULONGLONG*>(data);
        constexpr LPARAM kRepeatBit = 1 << 30;
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN &&
            ((msg->lParam & kRepeatBit) != 0 || ::GetTickCount64() - *runStart < ::GetDoubleClickTime()))
            return DefSubclassProc(button, message, wParam, lParam) | DLGC_WANTMESSAGE;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

}  // namespace

CVeltradDlg::CVeltradDlg(HINSTANCE instance, CProfile profile)
    : m_hInstance(instance), m_logic(*this, std::move(profile))
{
}

CVeltradDlg::~CVeltradDlg()
{
    for (HICON icon : {m_hIcon, m_hSmallIcon}) {
        if (icon)
            DestroyIcon(icon);
    }
}

INT_PTR CVeltradDlg::DoModal()
{
    return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(IDD_VELTRAD_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CVeltradDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CVeltradDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CVeltradDlg*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->m_hWnd = dialog;
        self->m_hWndPost = dialog;
    }
    // Messages before WM_INITDIALOG (the font, the creation) are the dialog's own.
    return self ? self->OnMessage(message, wParam) : FALSE;
}

INT_PTR CVeltradDlg::OnMessage(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_SYSCOMMAND:
        // FALSE hands move, minimise, close and the rest to the default processing.
        return m_logic.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE:  // the close box, Alt+F4, the system menu's Close
        m_logic.OnCancel();
        return TRUE;
    case WM_RUN_EVENTS: m_logic.DeliverRunEvents(); return TRUE;
    case WM_QUERYENDSESSION: {
        // Answered at once; a refusal says why beside the program's name.
        const bool may = m_logic.MaySessionEnd();
        if (!may)
            ShutdownBlockReasonCreate(m_hWnd, Widen(kSessionBlockReason).c_str());
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, may ? TRUE : FALSE);
        return TRUE;
    }
    case WM_ENDSESSION:
        // Only now does the session end; a cancelled one leaves the run alone.
        if (wParam)
            m_logic.OnEndRequested();
        else
            ShutdownBlockReasonDestroy(m_hWnd);
        return TRUE;
    case WM_DPICHANGED: UseIconsForDpi(HIWORD(wParam)); return FALSE;  // the dialog rescales itself
    case WM_NCDESTROY:
        // Every run has been joined by now (the logic ends the dialog only so).
        m_hWndPost = nullptr;
        m_hWnd = nullptr;
        return FALSE;
    default: break;
    }
    return FALSE;
}

BOOL CVeltradDlg::OnInitDialog()
{
    AppendAboutEntry();
    UseIconsForDpi(WindowDpi(m_hWnd));
    SetWindowSubclass(Item(IDC_STOP), StopButtonProc, 0, reinterpret_cast<DWORD_PTR>(&m_runStartTick));
    CenterWindow(m_hWnd, nullptr);
    KeepDroppedHeight();
    CreatePortTip();
    m_logic.OnInitDialog();
    return TRUE;  // the focus goes to the first tab stop, the open-file button
}

void CVeltradDlg::UseIconsForDpi(UINT dpi)
{
    const HICON big = LoadAppIcon(m_hInstance, SM_CXICON, dpi);
    const HICON small = LoadAppIcon(m_hInstance, SM_CXSMICON, dpi);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    for (HICON old : {m_hIcon, m_hSmallIcon}) {
        if (old)
            DestroyIcon(old);
    }
    m_hIcon = big;
    m_hSmallIcon = small;
    if (m_hPortTip)
        SendMessageW(m_hPortTip, TTM_SETMAXTIPWIDTH, 0, MulDiv(kPortTipMaxWidth96, static_cast<int>(dpi), kBaseDpi));
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
    case IDOK:  // Enter with the focus off a push button
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
    DrawIcon(dc, x, y, m_hIcon);
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
    m_hPortTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, m_hInstance, nullptr);
    if (!m_hPortTip)
        return;  // the list works without its tip
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_PORT));
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(m_hPortTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_hPortTip, TTM_SETMAXTIPWIDTH, 0,
                 MulDiv(kPortTipMaxWidth96, static_cast<int>(WindowDpi(m_hWnd)), kBaseDpi));
}

// The selected entry's device and, when it is present, what it is.
void CVeltradDlg::ShowPortTip()
{
    if (!m_hPortTip)
        return;
    const auto selected = static_cast<int>(SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0));
    const bool inList = selected >= 0 && static_cast<std::size_t>(selected) < m_ports.size();
    const std::wstring text = inList ? Widen(PortToolTip(m_ports[static_cast<std::size_t>(selected)])) : L"";
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_PORT));
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(m_hPortTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
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
    if (!enable)
        m_runStartTick = GetTickCount64();
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

HWND CVeltradDlg::ModalOwner() const
{
    if (!m_hWnd || IsWindowEnabled(m_hWnd))
        return m_hWnd;
    struct Search {
        HWND main;
        HWND tip;
        HWND found;
    } search{m_hWnd, m_hPortTip, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            if (window == s.tip || !IsWindowVisible(window) || !IsWindowEnabled(window))
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
    return search.found ? search.found : m_hWnd;
}

void CVeltradDlg::ShowNotice(Notice notice)
{
    if (m_hWnd)
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
    MessageBoxW(shown ? ModalOwner() : nullptr, text.c_str(), Widen(kApplicationName).c_str(),
                MB_OK | MB_ICONEXCLAMATION | (shown ? 0 : MB_TASKMODAL | MB_SETFOREGROUND));
}

std::optional<std::filesystem::path> CVeltradDlg::ChooseFile()
{
    std::wstring file(32768, L'\0');  // room for a long path
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = ModalOwner();
    dialog.lpstrFilter = L"Binary Files (*.bin)\0*.bin\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    // Without OFN_NOCHANGEDIR: the current folder follows the chosen file.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&dialog))
        return std::nullopt;  // cancelled or closed
    file.resize(std::wcslen(file.c_str()));
    return std::filesystem::path(file);
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
    if (HWND window = m_hWndPost.load())
        PostMessageW(window, WM_RUN_EVENTS, 0, 0);
}

}  // namespace veltrad
