#include "win32/station/StationDlg.h"

#include "base/Utf8Path.h"
#include "station/ViewTexts.h"
#include "win32/FileDialogs.h"
#include "win32/QuietBox.h"
#include "platform/Utf16_win32.h"
#include "win32/WindowHelpers.h"
#include "win32/station/StationResource.h"
#include "window/WindowLogic.h"

#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#include <initializer_list>
#include <iterator>
#include <utility>

namespace veltrad {
namespace {

namespace text = station_text;

// Device changes come in bursts, and the registry follows a little later:
// the tiles look once things have settled.
constexpr UINT_PTR kDevicesTimer = 1;
constexpr UINT kDevicesSettleMs = 500;
// Records that could not be written are tried again this often.
constexpr UINT_PTR kTickTimer = 2;
constexpr UINT kTickMs = 2000;

// "작업 파일 (*.ini)\0*.ini\0모든 파일 (*.*)\0*.*\0", as the open and save dialogs take it.
std::wstring Filter(const char* kind, const wchar_t* pattern)
{
    std::wstring filter = Widen(kind) + L" (" + pattern + L")" + L'\0' + pattern + L'\0';
    filter += Widen(text::kAllFiles) + L" (*.*)" + L'\0' + L"*.*" + L'\0';
    return filter;  // the string's own terminator ends the list
}

bool InRange(WORD id, int first, std::size_t count) { return id >= first && id < first + static_cast<int>(count); }

}  // namespace

CStationDlg::CStationDlg(HINSTANCE instance, CPortMap ports, StationServices services)
    : m_hInstance(instance), m_logic(*this, std::move(ports), std::move(services))
{
}

CStationDlg::~CStationDlg()
{
    for (HFONT font : {m_fonts.bold, m_fonts.word, m_hCountersFont}) {
        if (font)
            DeleteObject(font);
    }
}

bool CStationDlg::Create(int show)
{
    if (!CTileWindow::Register(m_hInstance))
        return false;
    m_hKeys = LoadAcceleratorsW(m_hInstance, MAKEINTRESOURCEW(IDR_STATION_KEYS));
    if (!CreateDialogParamW(m_hInstance, MAKEINTRESOURCEW(IDD_STATION), nullptr, DialogProcOf<CStationDlg>,
                            reinterpret_cast<LPARAM>(this)))
        return false;
    ShowWindow(m_hWnd, show);
    FocusSerialEntry();  // scanners type there
    return true;
}

void CStationDlg::FocusSerialEntry()
{
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_SERIAL_ENTRY)), TRUE);
}

void CStationDlg::Run()
{
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_hWnd && RouteKey(msg))
            continue;
        if (m_hWnd && TranslateAcceleratorW(m_hWnd, m_hKeys, &msg))
            continue;
        if (m_hWnd && IsDialogMessageW(m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

INT_PTR CStationDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // As the main window answers (the same reason): at once; only an ending
    // session stops, joins, records and closes.
    if (AnswerSessionEnd(m_hWnd, message, wParam, m_logic.AnyRunning(), kSessionBlockReason,
                         [this] { m_logic.OnEndRequested(); }))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE:  // the close box, Alt+F4, the system menu's Close: asks once during runs
        m_logic.OnCloseRequested();
        return TRUE;
    case WM_STATION_EVENTS: m_logic.DeliverEvents(); return TRUE;
    case WM_SIZE: LayOut(); return TRUE;
    case WM_GETMINMAXINFO: {
        // The template's own size is the least at which the job panel fits.
        const SIZE least = DialogUnits(m_templateClient.cx, m_templateClient.cy);
        RECT frame{0, 0, least.cx, least.cy};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {(frame.right - frame.left) * 3 / 4, (frame.bottom - frame.top) * 3 / 4};
        return TRUE;
    }
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            SetTimer(m_hWnd, kDevicesTimer, kDevicesSettleMs, nullptr);
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_TIMER:
        if (wParam == kTickTimer) {
            m_logic.OnTick();
            return TRUE;
        }
        if (wParam != kDevicesTimer)
            return FALSE;
        KillTimer(m_hWnd, kDevicesTimer);
        m_logic.OnDevicesChanged();
        return TRUE;
    case WM_DPICHANGED:
        m_icons.Use(m_hInstance, m_hWnd, HIWORD(wParam));
        SetToolTipWidth(m_hTip, HIWORD(wParam));
        PostMessageW(m_hWnd, WM_RELAYOUT, 0, 0);
        return FALSE;  // the dialog rescales itself
    case WM_RELAYOUT:
        MakeFonts();
        for (const auto& tile : m_tiles)
            tile->Refont();
        LayOut();
        return TRUE;
    case WM_DESTROY:
        KillTimer(m_hWnd, kDevicesTimer);
        KillTimer(m_hWnd, kTickTimer);
        PostQuitMessage(0);
        return FALSE;
    case WM_NCDESTROY:
        // Every run has been joined by now (the logic ends the window only so).
        Detach();
        return FALSE;
    default: break;
    }
    return FALSE;
}

BOOL CStationDlg::OnInitDialog()
{
    m_icons.Use(m_hInstance, m_hWnd, WindowDpi(m_hWnd));
    MakeFonts();
    SetTexts();
    RememberLayout();
    m_hTip = CreateToolTip(m_hInstance, m_hWnd, WindowDpi(m_hWnd));
    FitToJob();
    CenterWindow(m_hWnd, nullptr);
    m_logic.OnInit();
    SetTimer(m_hWnd, kTickTimer, kTickMs, nullptr);
    return FALSE;  // Create puts the focus on the serial-number field
}

void CStationDlg::OnCommand(WORD id, WORD code)
{
    // Buttons say BN_CLICKED, the F5 key 1.
    const bool clicked = code == BN_CLICKED || code == 1;
    switch (id) {
    case IDOK: OnEnter(); return;  // Enter in the job's name or ports
    case IDCANCEL: return;         // Escape does not end a station
    case IDC_JOB_NAME:
        if (code == EN_KILLFOCUS)
            CommitName();
        return;
    case IDC_PORTS:
        if (code == EN_KILLFOCUS)
            CommitPorts();
        return;
    default: break;
    }
    if (!clicked)
        return;
    switch (id) {
    case IDC_NEW_JOB: m_logic.OnNewJob(); return;
    case IDC_OPEN_JOB:
        // The line goes on from the serial-number field, where Enter starts every idle tile.
        m_logic.OnOpenJob();
        FocusSerialEntry();
        return;
    case IDC_SAVE_JOB: m_logic.OnSaveJob(); return;
    case IDC_EDIT_JOB: m_logic.OnEditJob(); return;
    case IDC_CHOOSE_IMAGE: m_logic.OnChooseImage(); return;
    // The label has the first 16 digits; the clipboard gets all 64.
    case IDC_COPY_SHA: CopyToClipboard(m_hWnd, Widen(m_logic.Job().sha)); return;
    case IDC_CHOOSE_RECORDS:
        if (const auto folder = ChooseFolder(ModalOwner(), m_logic.RecordsFolder()))
            m_logic.OnRecordsFolder(*folder);
        return;
    case IDC_OPEN_RECORDS: m_logic.OnOpenRecordsFolder(); return;
    // A refused change (a run going on) puts the box back as the job has it.
    case IDC_SERIAL_NUMBERS:
        m_logic.OnSerialNumbers(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
        CheckDlgButton(m_hWnd, id, m_logic.Job().serialNumbers ? BST_CHECKED : BST_UNCHECKED);
        return;
    case IDC_SOUNDS:
        m_logic.OnSounds(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
        CheckDlgButton(m_hWnd, id, m_logic.Job().sounds ? BST_CHECKED : BST_UNCHECKED);
        return;
    case IDC_START_ALL: m_logic.OnStartAllIdle(); return;
    case IDC_STOP_ALL: m_logic.OnStopAll(); return;
    default: break;
    }
    const std::size_t count = m_tiles.size();
    if (InRange(id, IDC_TILE, count))
        m_logic.OnSelectTile(static_cast<std::size_t>(id - IDC_TILE));
    else if (InRange(id, IDC_TILE_START, count))
        m_logic.OnStartTile(static_cast<std::size_t>(id - IDC_TILE_START));
    else if (InRange(id, IDC_TILE_STOP, count))
        m_logic.OnStopTile(static_cast<std::size_t>(id - IDC_TILE_STOP));
    else
        return;
    // The tile's buttons take no keys: the next scan goes to the field again.
    FocusSerialEntry();
}

void CStationDlg::CommitName()
{
    HWND name = Item(IDC_JOB_NAME);
    if (!SendMessageW(name, EM_GETMODIFY, 0, 0))
        return;
    SendMessageW(name, EM_SETMODIFY, FALSE, 0);  // before the logic, which may show a box
    m_logic.OnJobName(Narrow(ItemText(IDC_JOB_NAME)));
}

void CStationDlg::CommitPorts()
{
    HWND ports = Item(IDC_PORTS);
    if (!SendMessageW(ports, EM_GETMODIFY, 0, 0))
        return;
    SendMessageW(ports, EM_SETMODIFY, FALSE, 0);
    if (!m_logic.OnPortsText(Narrow(ItemText(IDC_PORTS))))
        SetItemText(IDC_PORTS, m_logic.Job().ports);  // refused: back to what holds
}

// --- IStationView ---------------------------------------------------------------

void CStationDlg::ShowJob(const JobView& job)
{
    const bool editable = !job.locked;
    const HWND focus = GetFocus();
    for (const auto& [id, value] : {std::pair{IDC_JOB_NAME, &job.name}, std::pair{IDC_PORTS, &job.ports}}) {
        if (focus != Item(id) || !editable)
            SetItemText(id, *value);
        SendMessageW(Item(id), EM_SETREADONLY, editable ? FALSE : TRUE, 0);
    }
    SetItemText(IDC_IMAGE, JobImageText(job));
    SetToolText(m_hTip, m_hWnd, Item(IDC_IMAGE), Widen(job.imagePath));
    SetItemText(IDC_SHA, JobShaText(job));
    SetToolText(m_hTip, m_hWnd, Item(IDC_SHA), Widen(job.sha));
    EnableWindow(Item(IDC_COPY_SHA), job.sha.empty() ? FALSE : TRUE);
    CheckDlgButton(m_hWnd, IDC_SERIAL_NUMBERS, job.serialNumbers ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(m_hWnd, IDC_SOUNDS, job.sounds ? BST_CHECKED : BST_UNCHECKED);
    SetItemText(IDC_RECORDS, job.records);
    SetToolText(m_hTip, m_hWnd, Item(IDC_RECORDS), Widen(job.records));
    SetItemText(IDC_LOCKED, job.locked ? text::kLocked : "");
    for (const int id : {IDC_NEW_JOB, IDC_CHOOSE_IMAGE, IDC_CHOOSE_RECORDS, IDC_SERIAL_NUMBERS, IDC_SOUNDS})
        EnableWindow(Item(id), editable ? TRUE : FALSE);
    EnableWindow(Item(IDC_EDIT_JOB), job.locked ? TRUE : FALSE);
    // A control that went disabled under the focus would leave the keyboard nowhere.
    if (focus && !IsWindowEnabled(focus))
        FocusSerialEntry();
    SetWindowTextW(m_hWnd, Widen(StationTitle(job)).c_str());
}

void CStationDlg::ShowTiles(const std::vector<TileView>& tiles)
{
    while (m_tiles.size() > tiles.size()) {
        RemoveTool(m_hTip, m_hWnd, m_tiles.back()->Handle());
        m_tiles.pop_back();
    }
    const bool newCount = m_tiles.size() != tiles.size();
    while (m_tiles.size() < tiles.size())
        m_tiles.push_back(std::make_unique<CTileWindow>(m_hInstance, m_hWnd, m_tiles.size(), m_fonts));
    if (newCount)
        FitToJob();
    LayOut();
    for (std::size_t i = 0; i < tiles.size(); ++i)
        ShowTile(i, tiles[i]);
}

void CStationDlg::ShowTile(std::size_t index, const TileView& tile)
{
    if (index >= m_tiles.size())
        return;
    m_tiles[index]->Show(tile);
    // A failure's whole reason, which a small tile may cut short.
    const std::string reason = tile.state != TileState::Failed ? std::string()
                               : tile.hint.empty()             ? tile.detail
                                                               : tile.detail + "\n" + tile.hint;
    SetToolText(m_hTip, m_hWnd, m_tiles[index]->Handle(), Widen(reason));
}

void CStationDlg::ShowCounters(const StationCounters& counters)
{
    SetItemText(IDC_COUNTERS, StationCountersText(counters));
    SetItemText(IDC_RECORDS_WAITING, RecordsWaitingText(counters));
}

void CStationDlg::ShowScanStatus(const std::string& status)
{
    SetItemText(IDC_SCAN_STATUS, status);
    SetToolText(m_hTip, m_hWnd, Item(IDC_SCAN_STATUS), Widen(status));
}

HWND CStationDlg::ModalOwner() const { return veltrad::ModalOwner(m_hWnd, m_hTip); }

void CStationDlg::ShowMessage(const StationMessage& message)
{
    std::wstring body = Widen(message.text);
    if (!message.detail.empty())
        body += L"\n\n" + Widen(message.detail);
    const CQuietBox quiet;
    MessageBoxW(ModalOwner(), body.c_str(), Widen(text::kTitle).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

bool CStationDlg::AskEnd(const std::string& question)
{
    // A message box's Yes and No follow the system's language and say
    // nothing of what they do: a task dialog with buttons that do. Going on
    // is the default, so an Enter meant for the station does not end it;
    // Escape and the close box go on too.
    enum : int { kEndAll = 100, kGoOn };
    const std::wstring endAll = Widen(text::kEndAll);
    const std::wstring goOn = Widen(text::kGoOn);
    const std::wstring title = Widen(text::kTitle);
    const std::wstring content = Widen(question);
    const TASKDIALOG_BUTTON buttons[] = {{kEndAll, endAll.c_str()}, {kGoOn, goOn.c_str()}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = ModalOwner();
    config.hInstance = m_hInstance;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = title.c_str();
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszContent = content.c_str();
    config.cButtons = static_cast<UINT>(std::size(buttons));
    config.pButtons = buttons;
    config.nDefaultButton = kGoOn;
    int pressed = kGoOn;
    const CQuietBox quiet;
    if (SUCCEEDED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr)))
        return pressed == kEndAll;
    // Without version 6 of the common controls: the plain question.
    return MessageBoxW(ModalOwner(), content.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
           IDYES;
}

std::optional<std::filesystem::path> CStationDlg::ChooseImage()
{
    return ChooseFile(ModalOwner(), FileDialog::Open, Filter(text::kImageFiles, L"*.bin").c_str());
}

std::optional<std::filesystem::path> CStationDlg::ChooseJobToOpen()
{
    return ChooseFile(ModalOwner(), FileDialog::Open, Filter(text::kJobFiles, L"*.ini").c_str());
}

std::optional<std::filesystem::path> CStationDlg::ChooseJobToSave()
{
    return ChooseFile(ModalOwner(), FileDialog::Save, Filter(text::kJobFiles, L"*.ini").c_str(),
                      PathFromUtf8(m_logic.Job().file), L"ini");
}

void CStationDlg::PlaySound(StationSound sound)
{
    // The desktop's own sounds for "done" and "error"; MessageBeep does not wait.
    MessageBeep(sound == StationSound::Complete ? MB_OK : MB_ICONHAND);
}

void CStationDlg::OpenFolder(const std::filesystem::path& folder)
{
    const auto done =
        reinterpret_cast<INT_PTR>(ShellExecuteW(m_hWnd, nullptr, folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    constexpr INT_PTR kShellExecuteFailed = 32;  // results up to 32 are errors
    if (done <= kShellExecuteFailed)
        ShowMessage({text::kRecordsNotShown, Utf8FromPath(folder)});
}

void CStationDlg::EndWindow()
{
    if (m_hWnd)
        DestroyWindow(m_hWnd);
}

void CStationDlg::PostEvents()
{
    // Never waits for the window's thread. The logic posts once per batch,
    // so the window's queue cannot fill up.
    PostFromAnyThread(WM_STATION_EVENTS);
}

void CStationDlg::OnRunEnded(std::size_t)
{
    if (m_hWnd && !m_logic.AnyRunning())
        ShutdownBlockReasonDestroy(m_hWnd);  // a refused logoff may go ahead now
}

}  // namespace veltrad
