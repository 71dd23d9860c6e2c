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
      m_image(std::make_shared<CDownloadImage>()),
      m_portSource([] { return ListSerialDevices(); }),
      m_events([this] { m_view.PostRunEvents(); }),
      m_run(m_events, {clock, port, m_portMap, {}, /*closeAtEnd=*/false})
{
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
        Report({kSettingsUnreadable, KoreanSettingsProblem(m_profile.Path(), *problem)});
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
    m_run.Select(ChoosePortNumber(m_nPort, m_portMap));
}

void CWindowLogic::TestSelectedPort()
{
    TakeSelectedPort();
    // The run closes a port that a timed-out or refused run left open
    // before it tries the new one.
    if (!m_run.TestOpen())
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
    // The run's frames are the image's: its worker is done before they change.
    m_run.StopAndJoin();
    m_image->SetFile(*chosen);
    ImageError error;
    const bool readable = m_image->InspectFile(&error);
    m_strFileName = m_image->m_strFileName;
    // The size of an earlier file beside this file's name would be a lie.
    m_strFileSize = readable ? m_image->m_strFileSize : std::string();
    m_view.ShowFile(m_strFileName, m_strFileSize);
    if (!readable)
        Report(FileUnreadable(error));
}

void CWindowLogic::OnDownload()
{
    TakeSelectedPort();
    // The frames belong to one run at a time: the earlier one ends before
    // they are built again.
    m_run.StopAndJoin();
    ImageError fileError;
    const bool built = m_image->BuildFrames(&fileError);
    // The build pass read the file again: its size now, also when the run
    // does not start (a file that cannot be read keeps the last size).
    if (!built) {
        Report(FileUnreadable(fileError));
        return;
    }
    ShowBuiltSize();
    const std::optional<RunOutcome> unstarted = m_run.Start(m_image);
    if (!unstarted) {
        m_bRunShown = true;
        m_bShownRunStopped = false;
        m_enterQuiet.Restart();
        m_view.SetProgressRange(m_run.Frames());
        SetProgressPos(0);
        EnableControls(false);
        return;
    }
    switch (*unstarted) {
    case RunOutcome::NothingToSend:
        Report({window_text::NothingToSend(m_strFileName), window_text::kNoPortOpened});
        break;
    case RunOutcome::PortOpenFailed:
        m_view.SetProgressRange(m_run.Frames());
        SetProgressPos(0);
        Report(PortOpenFailMessage());
        break;
    default: Report({window_text::kNotStarted, window_text::kNoThread}); break;  // ThreadFailed
    }
}

void CWindowLogic::ShowBuiltSize()
{
    m_strFileSize = m_image->m_strFileSize;
    m_view.ShowFile(m_strFileName, m_strFileSize);
}

void CWindowLogic::OnStop()
{
    m_bShownRunStopped = true;
    m_run.Stop();
    EnableControls(true);
    SetProgressPos(0);
}

void CWindowLogic::OnCloseDialog()
{
    // The worker must be done with the frames before they go.
    EndRun();
    if (!m_strFileName.empty()) {
        m_image->ResetFileInfo();
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

bool CWindowLogic::MaySessionEnd() const { return !m_run.IsRunning(); }

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
    return {"Port open fail : COM" + std::to_string(m_nPort), KoreanPortError(m_run.OpenError())};
}

void CWindowLogic::Report(const WindowMessage& message)
{
    if (!m_bEndRequested)
        m_view.ShowMessage(message);
}

void CWindowLogic::EndRun()
{
    m_bRunShown = false;
    m_run.StopAndJoin();
}

void CWindowLogic::End(bool ok)
{
    EndRun();
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_view.EndDialog(ok);
}

bool CWindowLogic::IsShownRun(std::uint64_t runId) const { return m_bRunShown && runId == m_run.RunId(); }

// --- the run's events ----------------------------------------------------

void CWindowLogic::DeliverRunEvents()
{
    // One at a time: a notice runs a modal loop, in which the events after
    // it are delivered in their order by a later wake-up.
    while (const std::optional<RunEvent> event = m_events.Next())
        Deliver(*event);
}

void CWindowLogic::Deliver(const RunEvent& event)
{
    if (!IsShownRun(event.runId))
        return;
    switch (event.kind) {
    case RunEvent::Kind::Progress:
        // A stopped run may still complete, but moves the bar no more.
        if (!m_bShownRunStopped)
            SetProgressPos(event.acknowledged);
        break;
    case RunEvent::Kind::ProgressReset: SetProgressPos(0); break;
    case RunEvent::Kind::Controls: EnableControls(event.enable); break;
    case RunEvent::Kind::Notice:
        if (!m_bEndRequested)
            m_view.ShowNotice(event.notice);
        break;
    case RunEvent::Kind::Ended: m_view.OnRunEnded(event.runId, event.outcome); break;
    }
}

}  // namespace veltrad
