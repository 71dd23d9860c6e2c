// The station's job and its edits, and the order of ending.

#include "station/StationLogic.h"

#include "base/Utf8Path.h"
#include "serial/PortIdentity.h"
#include "settings/Profile.h"
#include "station/StationPlatform.h"
#include "window/ReasonTexts.h"

#include <algorithm>
#include <utility>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
namespace text = station_text;

constexpr std::size_t kShortShaDigits = 16;

}  // namespace

CStationLogic::CStationLogic(IStationView& view, CPortMap ports, StationServices services)
    : m_view(view),
      m_portMap(std::move(ports)),
      m_services(std::move(services)),
      m_clock(m_services.clock),
      m_events([this] { m_view.PostEvents(); }),
      m_check([this] { m_view.PostEvents(); })
{
    if (m_clock == nullptr) {
        m_systemClock = std::make_unique<CSystemClock>();
        m_clock = m_systemClock.get();
    }
    if (!m_services.devices)
        m_services.devices = [] { return ListSerialDevices(); };
    if (!m_services.now)
        m_services.now = [] { return std::chrono::system_clock::now(); };
    if (m_services.hostName.empty())
        m_services.hostName = HostName();
    if (m_services.recordsFolder.empty())
        m_services.recordsFolder = DefaultRecordsFolder();
}

CStationLogic::~CStationLogic()
{
    // The workers report to this object: they go first.
    StopAndJoinAll();
}

void CStationLogic::OnInit() { SetJob({}, {}, false); }

bool CStationLogic::Begin(const CProfile& settings, const std::optional<fs::path>& job)
{
    if (const auto problem = settings.ReadProblem())
        Report({kSettingsUnreadable, KoreanSettingsProblem(settings.Path(), *problem)});
    if (job && !m_bEnded)
        OpenJob(*job);
    return !m_bEnded;
}

// --- the job ---------------------------------------------------------------

bool CStationLogic::Editable()
{
    if (m_jobView.locked || m_bEnded)
        return false;
    if (AnyRunning()) {
        Report({text::kRunsGoingOn, {}});
        return false;
    }
    return true;
}

void CStationLogic::SetJob(StationJob job, std::string file, bool locked)
{
    StopAndJoinAll();
    m_job = std::move(job);
    m_jobView = {};
    m_jobView.file = std::move(file);
    m_jobView.locked = locked;
    m_counters = {.pendingRecords = m_counters.pendingRecords, .recordsCause = m_counters.recordsCause};
    m_board.Reset(m_job.tiles);
    m_chosen.reset();
    const std::vector<SerialDeviceInfo> devices = Devices();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        Refresh(i, devices);
    ShowJob();
    ShowAllTiles();
    m_view.ShowCounters(m_counters);
}

void CStationLogic::ShowJob()
{
    JobView& v = m_jobView;
    v.name = m_job.name;
    v.imagePath = Utf8FromPath(m_job.image);
    v.imageName = Utf8FromPath(m_job.image.filename());
    v.sha = m_job.sha256;
    v.shaShort = m_job.sha256.substr(0, kShortShaDigits);
    v.ports.clear();
    for (const JobTile& tile : m_job.tiles)
        v.ports += (v.ports.empty() ? "" : " ") + tile.port;
    v.serialNumbers = m_job.serialNumbers;
    v.sounds = m_job.sounds;
    v.records = Utf8FromPath(RecordsFolder());
    m_view.ShowJob(v);
}

fs::path CStationLogic::RecordsFolder() const
{
    return m_job.records.empty() ? m_services.recordsFolder : m_job.records;
}

void CStationLogic::OnNewJob()
{
    // A new job is an edit too: the locked one stays until "edit job".
    if (m_jobView.locked)
        return;
    if (AnyRunning())
        Report({text::kRunsGoingOn, {}});
    else
        SetJob({}, {}, false);
}

void CStationLogic::OnOpenJob()
{
    if (AnyRunning()) {
        Report({text::kRunsGoingOn, {}});
        return;
    }
    if (const auto file = m_view.ChooseJobToOpen())
        OpenJob(*file);
}

bool CStationLogic::OpenJob(const fs::path& file)
{
    if (AnyRunning()) {
        Report({text::kRunsGoingOn, {}});
        return false;
    }
    JobFileError error;
    std::optional<StationJob> job = ReadJobFile(file, m_portMap, error);
    if (!job) {
        Report({text::kJobUnreadable, JobErrorText(error)});
        return false;
    }
    SetJob(std::move(*job), Utf8FromPath(file), true);
    // Its size, or why it cannot be loaded, said now rather than at the first
    // start: the line may not load today.
    if (!m_job.image.empty()) {
        m_checkForJob = true;
        BeginCheck();
    }
    return true;
}

void CStationLogic::OnSaveJob()
{
    if (const auto file = m_view.ChooseJobToSave())
        SaveJob(*file);
}

bool CStationLogic::SaveJob(const fs::path& file)
{
    JobFileError error;
    if (!WriteJobFile(file, m_job, error)) {
        Report({text::kJobUnsaved, JobErrorText(error)});
        return false;
    }
    m_jobView.file = Utf8FromPath(file);
    ShowJob();
    return true;
}

void CStationLogic::OnEditJob()
{
    if (!m_jobView.locked)
        return;
    m_jobView.locked = false;
    ShowJob();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        ShowTile(i);
}

void CStationLogic::OnChooseImage()
{
    if (!Editable())
        return;
    if (const auto image = m_view.ChooseImage())
        SetImage(*image);
}

bool CStationLogic::SetImage(const fs::path& path)
{
    if (!Editable())
        return false;
    const ImageRead read = ReadJobImage(path);
    if (!read.image) {
        Report(read.refusal);
        return false;
    }
    const CDownloadImage& image = *read.image->frames;
    m_check.Stop();  // the job's opening's check, of the image before
    m_checkForJob = false;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    m_job.image = ec ? path : absolute;
    m_job.sha256 = read.image->facts.sha256;
    m_jobView.sizeText = image.m_strFileSize;
    m_jobView.frames = static_cast<std::uint32_t>(image.m_FrameList.size());
    ShowJob();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        ShowTile(i);
    return true;
}

void CStationLogic::OnJobName(const std::string& name)
{
    if (!Editable())
        return;
    m_job.name = name;
    ShowJob();
}

bool CStationLogic::OnPortsText(const std::string& portsText)
{
    if (!Editable())
        return false;
    const std::vector<std::string> names = SplitPortNames(portsText);
    if (names.size() > kMaxTiles) {
        Report({text::kTooManyPorts, std::to_string(names.size())});
        return false;
    }
    // One port under two names ("COM41" and its device) would run twice.
    std::vector<std::string> opened;
    for (const std::string& name : names) {
        const std::optional<PortTarget> target = ResolvePort(name, m_portMap);
        if (!target) {
            Report({text::kNoSuchPort, name});
            return false;
        }
        const auto same = std::find(opened.begin(), opened.end(), target->identity);
        if (same != opened.end()) {
            const std::string& first = names[static_cast<std::size_t>(same - opened.begin())];
            Report({text::kPortTwice, first == name ? name : first + ", " + name});
            return false;
        }
        opened.push_back(target->identity);
    }
    const std::vector<SerialDeviceInfo> devices = Devices();
    m_board.SetPorts(names, m_portMap, devices);
    m_job.tiles = m_board.JobTiles();
    m_chosen.reset();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        Refresh(i, devices);
    ShowJob();
    ShowAllTiles();
    return true;
}

void CStationLogic::OnSerialNumbers(bool on)
{
    if (!Editable())
        return;
    m_job.serialNumbers = on;
    ShowJob();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        ShowTile(i);
}

void CStationLogic::OnSounds(bool on)
{
    if (!Editable())
        return;
    m_job.sounds = on;
    ShowJob();
}

void CStationLogic::OnRecordsFolder(const fs::path& folder)
{
    if (!Editable())
        return;
    m_job.records = folder;
    ShowJob();
}

void CStationLogic::OnOpenRecordsFolder()
{
    const fs::path folder = RecordsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        Report({text::kRecordsUnwritable, Utf8FromPath(folder) + ": " + KoreanErrorCode(ec)});
        return;
    }
    m_view.OpenFolder(folder);
}

// --- ending ---------------------------------------------------------------------

void CStationLogic::Report(const StationMessage& message)
{
    if (!m_bEnding && !m_bEnded)
        m_view.ShowMessage(message);
}

void CStationLogic::StopAndJoinAll()
{
    m_check.StopAndJoin();
    m_checkForJob = false;
    for (const std::size_t i : std::vector<std::size_t>(m_checkTiles))
        StopAwaiting(i);
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        m_board.At(i).Stop();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        m_board.At(i).StopAndJoin();
    // What the workers said before they ended: their tiles and records.
    DeliverEvents();
}

void CStationLogic::OnCloseRequested()
{
    if (m_bEnded || m_bAsking)
        return;
    if (AnyRunning()) {
        m_bAsking = true;
        const bool end = m_view.AskEnd(text::kAskEnd);
        m_bAsking = false;
        if (!end || m_bEnded)
            return;
    }
    End(true);
}

void CStationLogic::OnEndRequested()
{
    if (!m_bEnded)
        End(false);
}

void CStationLogic::End(bool tell)
{
    m_bEnding = true;
    StopAndJoinAll();
    // Kept next to the records of jobs that name no folder, else where the
    // system keeps temporary files.
    std::error_code ec;
    m_kept = m_records.KeepPending(m_services.now(), {m_services.recordsFolder, fs::temp_directory_path(ec)});
    if (m_kept && tell)
        m_view.ShowMessage(KeptMessage(*m_kept));
    m_bEnded = true;
    m_view.EndWindow();
}

}  // namespace veltrad
