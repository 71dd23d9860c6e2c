#include "window/WindowLogic.h"

#include "base/Utf8Path.h"
#include "window/ReasonTexts.h"
#include "window/WindowTexts.h"

#include <utility>

namespace veltrad {
namespace {

IClock& ClockOr(IClock* given, std::unique_ptr<IClock>& own)
{
    if (given != nullptr)
        return *given;
    own = std::make_unique<CSystemClock>();
    return *own;
}

WindowMessage FileUnreadable(const ImageError& error)
{
    return {window_text::kFileUnreadable, KoreanImageError(error)};
}

std::string SettingsReason(const IniReadError& error)
{
    std::string why;
    switch (error.problem) {
    case IniProblem::None:
    case IniProblem::Missing:
    case IniProblem::Unreadable: why = KoreanErrno(error.systemError); break;
    case IniProblem::TooLarge: why = "설정 파일로는 너무 큽니다"; break;
    case IniProblem::NotText: why = "텍스트 파일이 아닙니다"; break;
    case IniProblem::BadEncoding: why = "UTF-8이나 UTF-16 텍스트가 아닙니다"; break;
    }
    if (error.line != 0)
        why += " (" + std::to_string(error.line) + "번째 줄)";
    return why;
}

}  // namespace

void TouchStartupSettings(CProfile& profile)
{
    const int address = profile.GetProfileInt(kFontSection, kAddressKey, kDefaultFontAddress);
    // A file that cannot be written changes nothing visible; later reads
    // simply give the defaults.
    profile.WriteProfileInt(kFontSection, kAddressKey, address);
}

std::string PortToolTip(const PortEntry& entry)
{
    if (!entry.present || entry.description.empty())
        return entry.device;
    return entry.device + ": " + entry.description;
}

CWindowLogic::CWindowLogic(IWindowView& view, CProfile profile, IClock* clock, ISerialPort* port)
    : m_view(view),
      m_enterQuiet(ClockOr(clock, m_systemClock), kRunStartQuietMs),
      m_profile(std::move(profile)),
      m_portMap(PortMapFromProfile(m_profile)),
      m_session(std::make_unique<CDownloadSession>(static_cast<IRunObserver&>(*this), clock, port)),
      m_portSource([] { return ListSerialDevices(); })
{
    m_session->SetPortMap(m_portMap);
}

CWindowLogic::~CWindowLogic()
{
    // The worker reports to this object: it must be gone before this is.
    EndRun();
}

void CWindowLogic::SetPortSource(PortSource source) { m_portSource = std::move(source); }

void CWindowLogic::OnInitDialog()
{
    LoadPortSetting();
    InitControls();
    ReportUnreadableSettings();
    TestSelectedPort();
}

void CWindowLogic::ReportUnreadableSettings()
{
    if (const auto problem = m_profile.ReadProblem())
        Report({kSettingsUnreadable, Utf8FromPath(m_profile.Path()) + ": " + SettingsReason(*problem)});
}

void CWindowLogic::LoadPortSetting()
{
    m_nSavedPortIndex = m_profile.GetProfileInt(kComPortSection, kPortNumKey, kDefaultPortIndex);
}

std::vector<PortEntry> CWindowLogic::BuildPortEntries() const
{
    const std::vector<SerialDeviceInfo> present = m_portSource ? m_portSource() : std::vector<SerialDeviceInfo>();
    std::vector<PortEntry> entries;
    for (int index = 0; index < kPortCount; ++index) {
        const auto port = static_cast<std::uint16_t>(index + 1);
        PortEntry entry;
        entry.name = "COM" + std::to_string(port);
        entry.device = m_portMap.Device(port).value_or(std::string());
        for (const SerialDeviceInfo& device : present) {
            if (NamesDevice(entry.device, device)) {
                entry.present = true;
                entry.description = DescribeDevice(device);
                break;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

void CWindowLogic::OnPortListOpening()
{
    m_ports = BuildPortEntries();
    m_view.ShowPorts(m_ports, m_nSelectedIndex);
}

void CWindowLogic::InitControls()
{
    m_ports = BuildPortEntries();
    // An index outside the list selects nothing.
    const bool inList = m_nSavedPortIndex >= 0 && m_nSavedPortIndex < kPortCount;
    m_nSelectedIndex = inList ? m_nSavedPortIndex : -1;
    m_view.ShowPorts(m_ports, m_nSelectedIndex);
    SetProgressPos(0);
}

void CWindowLogic::TakeSelectedPort()
{
    // -1 with nothing selected, so port 0, which names no device.
    m_nPort = static_cast<std::uint16_t>(m_nSelectedIndex + 1);
    m_session->SelectPort(m_nPort);
}

void CWindowLogic::TestSelectedPort()
{
    TakeSelectedPort();
    // The session closes a port that a timed-out or refused run left open
    // before it tries the new one.
    if (!m_session->TestSelectedPort())
        Report(PortOpenFailMessage());
}

void CWindowLogic::OnSelChangePort(int index)
{
    m_nSelectedIndex = index >= 0 && index < kPortCount ? index : -1;
    TestSelectedPort();
}

void CWindowLogic::SavePortSetting()
{
    // -1 when nothing is selected; the next start then selects nothing again.
    m_profile.WriteProfileInt(kComPortSection, kPortNumKey, m_nSelectedIndex);
}

void CWindowLogic::EnableControls(bool enable)
{
    m_bControlsEnabled = enable;
    m_view.EnableControls(enable);
}

void CWindowLogic::SetProgressPos(std::uint32_t position)
{
    m_nProgressPos = position;
    m_view.SetProgressPos(position);
}

void CWindowLogic::OnOpenFile()
{
    const std::optional<std::filesystem::path> chosen = m_view.ChooseFile();
    if (!chosen)
        return;
    ImageError error;
    const bool readable = m_session->OpenFile(*chosen, &error);
    const CDownloadImage& image = m_session->Image();
    m_strFileName = image.m_strFileName;
    // The size of an earlier file beside this file's name would be a lie.
    m_strFileSize = readable ? image.m_strFileSize : std::string();
    m_view.ShowFile(m_strFileName, m_strFileSize);
    if (!readable)
        Report(FileUnreadable(error));
}

void CWindowLogic::OnDownload()
{
    TakeSelectedPort();
    ImageError fileError;
    const StartResult result = m_session->OnDownload(&fileError);
    // The build pass read the file again: its size now, also when the run
    // does not start (a file that cannot be read keeps the last size).
    if (result != StartResult::FileError)
        ShowBuiltSize();
    switch (result) {
    case StartResult::Started:
        m_nShownRunId = m_session->CurrentRunId();
        m_bShownRunStopped = false;
        m_enterQuiet.Restart();
        m_view.SetProgressRange(m_session->FrameCount());
        SetProgressPos(0);
        EnableControls(false);
        break;
    case StartResult::FileError: Report(FileUnreadable(fileError)); break;
    case StartResult::NothingToSend:
        Report({window_text::NothingToSend(m_strFileName), window_text::kNoPortOpened});
        break;
    case StartResult::PortOpenFailed:
        m_view.SetProgressRange(m_session->FrameCount());
        SetProgressPos(0);
        Report(PortOpenFailMessage());
        break;
    case StartResult::ThreadFailed: Report({window_text::kNotStarted, window_text::kNoThread}); break;
    }
}

void CWindowLogic::ShowBuiltSize()
{
    m_strFileSize = m_session->Image().m_strFileSize;
    m_view.ShowFile(m_strFileName, m_strFileSize);
}

void CWindowLogic::OnStop()
{
    m_bShownRunStopped = true;
    m_session->OnStop();
    EnableControls(true);
    SetProgressPos(0);
}

void CWindowLogic::OnCloseDialog()
{
    // The worker must be done with the frames before they go.
    EndRun();
    if (!m_strFileName.empty()) {
        m_session->Image().ResetFileInfo();
        m_strFileName.clear();
        m_strFileSize.clear();
        m_view.ShowFile(m_strFileName, m_strFileSize);
    }
    SavePortSetting();
    End(false);
}

void CWindowLogic::OnOK() { End(true); }

void CWindowLogic::OnCancel() { End(false); }

bool CWindowLogic::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0u) != kIdmAboutBox)
        return false;
    m_view.ShowAbout();
    return true;
}

void CWindowLogic::OnEndRequested()
{
    m_bEndRequested = true;
    End(false);
}

void CWindowLogic::OnSessionEnding()
{
    // As the stop button would, so the window is usable should the logout
    // be cancelled; then the worker is joined.
    OnStop();
    EndRun();
}

bool CWindowLogic::MaySessionEnd() const { return !m_session->IsRunning(); }

bool CWindowLogic::TakesEnter(bool autoRepeat)
{
    // Idle, Enter is the window's as ever; the quiet ends with the run.
    if (m_bControlsEnabled)
        return true;
    return m_enterQuiet.Takes(autoRepeat);
}

WindowMessage CWindowLogic::PortOpenFailMessage() const
{
    // The port's reason names the device already.
    return {"Port open fail : COM" + std::to_string(m_nPort), KoreanPortError(m_session->Comm().LastPortError())};
}

void CWindowLogic::Report(const WindowMessage& message)
{
    if (!m_bEndRequested)
        m_view.ShowMessage(message);
}

void CWindowLogic::EndRun()
{
    m_nShownRunId = 0;
    m_session->StopAndJoin();
}

void CWindowLogic::End(bool ok)
{
    EndRun();
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_view.EndDialog(ok);
}

bool CWindowLogic::IsShownRun(std::uint64_t runId) const { return runId != 0 && runId == m_nShownRunId; }

// --- the run's events ----------------------------------------------------

void CWindowLogic::OnProgressStep(std::uint64_t runId) { Queue({RunEvent::Kind::ProgressStep, runId}); }

void CWindowLogic::OnProgressReset(std::uint64_t runId) { Queue({RunEvent::Kind::ProgressReset, runId}); }

void CWindowLogic::OnEnableControls(std::uint64_t runId, bool enable)
{
    RunEvent event{RunEvent::Kind::EnableControls, runId};
    event.enable = enable;
    Queue(event);
}

void CWindowLogic::OnNotice(std::uint64_t runId, Notice notice)
{
    RunEvent event{RunEvent::Kind::ShowNotice, runId};
    event.notice = notice;
    Queue(event);
}

void CWindowLogic::OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats&)
{
    RunEvent event{RunEvent::Kind::RunEnded, runId};
    event.outcome = outcome;
    Queue(event);
}

void CWindowLogic::Queue(const RunEvent& event)
{
    bool wasEmpty;
    {
        const std::lock_guard<std::mutex> lock(m_eventLock);
        wasEmpty = m_events.empty();
        m_events.push_back(event);
    }
    // One wake-up per batch: the window's thread takes everything queued by then.
    if (wasEmpty)
        m_view.PostRunEvents();
}

std::optional<CWindowLogic::RunEvent> CWindowLogic::NextEvent()
{
    const std::lock_guard<std::mutex> lock(m_eventLock);
    if (m_events.empty())
        return std::nullopt;
    RunEvent event = m_events.front();
    m_events.pop_front();
    return event;
}

void CWindowLogic::DeliverRunEvents()
{
    // One at a time: a notice runs a modal loop, in which the events after
    // it are delivered in their order by a later wake-up.
    while (const std::optional<RunEvent> event = NextEvent())
        Deliver(*event);
}

void CWindowLogic::Deliver(const RunEvent& event)
{
    if (!IsShownRun(event.runId))
        return;
    switch (event.kind) {
    case RunEvent::Kind::ProgressStep:
        // A stopped run may still complete, but moves the bar no more.
        if (!m_bShownRunStopped)
            SetProgressPos(m_nProgressPos + 1);
        break;
    case RunEvent::Kind::ProgressReset: SetProgressPos(0); break;
    case RunEvent::Kind::EnableControls: EnableControls(event.enable); break;
    case RunEvent::Kind::ShowNotice:
        if (!m_bEndRequested)
            m_view.ShowNotice(event.notice);
        break;
    case RunEvent::Kind::RunEnded: m_view.OnRunEnded(event.runId, event.outcome); break;
    }
}

}  // namespace veltrad
