#pragma once
// The main window's logic, free of any toolkit: the port list and its saved
// index, the test-opens, the file choice, starting and stopping a run, the
// run's events and which notice ends it, the texts of every message, and the
// order of ending. The Qt dialog and the Win32 dialog are thin views over it
// (IWindowView); both call the handlers below on the window's thread.
//
// Principles of operation
// - The run's worker reports on its own thread into a CRunEventQueue, which
//   asks the view once per batch to post DeliverRunEvents to the window's
//   thread; the worker never waits for the window, so the window can always
//   stop and join it.
// - Events carry their run's id. Only the run shown now moves the bar or opens
//   a notice; a stopped run may still complete, but moves the bar no more.
// - Every way of ending stops the run, closes the port and joins the worker
//   before the view is told to end, so nothing the worker uses goes first.

#include "download/PortRun.h"
#include "download/RunEventQueue.h"
#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"
#include "window/KeyQuiet.h"
#include "window/WindowView.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

inline constexpr char kApplicationName[] = "Veltrad";
// "Font" / "Address": read at start-up and written straight back; nothing
// else uses it, but a first start leaves it in the file.
inline constexpr char kFontSection[] = "Font";
inline constexpr char kAddressKey[] = "Address";
inline constexpr int kDefaultFontAddress = 0x43000;  // 274432
// "ComPort" / "Port Num": the port list's index, saved by the close button.
inline constexpr char kComPortSection[] = "ComPort";
inline constexpr char kPortNumKey[] = "Port Num";
inline constexpr int kDefaultPortIndex = 0;
inline constexpr int kPortCount = 50;  // "COM1" .. "COM50"

// System-menu command of the About entry; its low four bits are free.
inline constexpr unsigned kIdmAboutBox = 0x0010;
// Text of the About entry (string 101), UTF-8.
inline constexpr char kAboutMenuText[] = "Veltrad 정보(&A)...";

// Why the desktop session cannot end now (Windows shows it beside the
// program while a logoff or restart waits): a download is under way.
inline constexpr char kSessionBlockReason[] =
    "단말기에 프로그램을 다운로드하는 중입니다. 다운로드가 끝난 후에 종료해 주십시오.";

// The start-up's settings touch: "Font"/"Address" read and written back.
void TouchStartupSettings(CProfile& profile);

// A port entry's tooltip: its device, and what that is when it is present
// ("/dev/ttyUSB0: FT232R USB UART, FTDI, serial A50285BI").
std::string PortToolTip(const PortEntry& entry);

// The serial devices present now; the system's list unless a test gives its own.
using PortSource = std::function<std::vector<SerialDeviceInfo>()>;

class CWindowLogic final {
public:
    // `profile` holds the port index and the [Ports] map, which is read once
    // here and serves both the run's port and the port list; `clock` and
    // `port` may be null for the system's (tests inject theirs; both must
    // outlive the logic).
    CWindowLogic(IWindowView& view, CProfile profile, IClock* clock = nullptr, ISerialPort* port = nullptr);
    // Stops a run and joins its worker.
    ~CWindowLogic();
    CWindowLogic(const CWindowLogic&) = delete;
    CWindowLogic& operator=(const CWindowLogic&) = delete;

    // Where the present devices come from (before OnInitDialog).
    void SetPortSource(PortSource source);

    // Fills the port list, selects the saved index and test-opens it (which
    // may report the port before the window first shows); says first when
    // the settings file cannot be read.
    void OnInitDialog();

    // The port list is about to open: the entries are shown again with the
    // devices present now. Nothing else changes; no port is opened.
    void OnPortListOpening();

    // The operator's actions.
    void OnSelChangePort(int index);  // -1: nothing selected
    void OnOpenFile();
    void OnDownload();
    void OnStop();
    // The close button: ends the run, forgets the file, saves the port index.
    void OnCloseDialog();
    // Enter outside a push button (ok), Escape, Alt+F4, the close box, the
    // system menu's Close (cancel): the run ends, nothing is saved.
    void OnOK();
    void OnCancel();
    // True when the command was the About entry (id & 0xFFF0 == 0x0010) and
    // the About box was shown; other commands are the window's own.
    bool OnSysCommand(unsigned id);

    // A signal, the application quitting, the desktop session ending with
    // the window: run ended, port closed, worker joined, no index saved. Once
    // called, nothing more is shown.
    void OnEndRequested();
    // The desktop session may end the program: as the stop button, then the
    // worker is joined. The window stays, should the logout be cancelled.
    void OnSessionEnding();
    bool EndRequested() const { return m_bEndRequested; }
    // Whether the desktop session may end now (Windows asks before a logoff
    // or restart, which may still be cancelled): not while a run is under
    // way, which goes on; the window ends only when the session does.
    bool MaySessionEnd() const;
    // Whether an Enter now may act on a button: not while a run has just
    // started, nor a key the keyboard repeats during a run (the hand that
    // pressed 다 운 로 드 goes on pressing). The way out by the mouse, by
    // Escape and by the close box stays open.
    bool TakesEnter(bool autoRepeat);

    // On the window's thread, after the view posted it: hands the queued
    // events to the view, one at a time (a notice's modal loop may deliver
    // the events after it).
    void DeliverRunEvents();

    // State a view or a test may read.
    const std::vector<PortEntry>& Ports() const { return m_ports; }
    int SelectedIndex() const { return m_nSelectedIndex; }
    std::uint16_t PortNumber() const { return m_nPort; }
    const std::string& FileName() const { return m_strFileName; }
    const std::string& FileSizeText() const { return m_strFileSize; }
    std::uint32_t ProgressPos() const { return m_nProgressPos; }
    bool ControlsEnabled() const { return m_bControlsEnabled; }
    const CDownloadImage& Image() const { return *m_image; }
    CPortRun& Run() { return m_run; }

    // The message for a port that does not open: "Port open fail : COM%d",
    // with the reason in Korean (which names the device) as its detail.
    WindowMessage PortOpenFailMessage() const;

private:
    void Deliver(const RunEvent& event);

    void LoadPortSetting();
    void ReportUnreadableSettings();
    void InitControls();
    std::vector<PortEntry> BuildPortEntries() const;
    void TakeSelectedPort();
    void TestSelectedPort();
    void SavePortSetting();
    void EnableControls(bool enable);
    void SetProgressPos(std::uint32_t position);
    void Report(const WindowMessage& message);
    void ShowBuiltSize();
    void EndRun();
    void End(bool ok);
    bool IsShownRun(std::uint64_t runId) const;

    IWindowView& m_view;
    std::unique_ptr<IClock> m_systemClock;  // when none was given
    CKeyQuiet m_enterQuiet;
    CProfile m_profile;
    const CPortMap m_portMap;
    // The chosen file; its frames are built again at each start and read by the run.
    const std::shared_ptr<CDownloadImage> m_image;

    PortSource m_portSource;
    std::vector<PortEntry> m_ports;
    int m_nSavedPortIndex = kDefaultPortIndex;
    int m_nSelectedIndex = -1;
    std::uint16_t m_nPort = 0;
    std::string m_strFileName;
    std::string m_strFileSize;
    std::uint32_t m_nProgressPos = 0;
    bool m_bControlsEnabled = true;
    bool m_bEndRequested = false;
    bool m_bEnded = false;

    // Whether the run's latest start is shown: its events move the bar and
    // open notices; a run ended by the window itself is shown no more.
    bool m_bRunShown = false;
    bool m_bShownRunStopped = false;

    CRunEventQueue m_events;  // the run's, until DeliverRunEvents takes them

    // Last, so that its worker is joined before what it reports to goes.
    CPortRun m_run;
};

}  // namespace veltrad
