#include "station/StationLogic.h"

#include "base/NoCase.h"
#include "multiport/SharedImage.h"
#include "serial/PortIdentity.h"
#include "station/StationPlatform.h"
#include "station/StationTile.h"
#include "window/ReasonTexts.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
namespace text = station_text;

constexpr std::size_t kShortShaDigits = 16;

}  // namespace

CStationLogic::CStationLogic(IStationView& view, CPortMap ports, StationServices services)
    : m_view(view), m_portMap(std::move(ports)), m_services(std::move(services)), m_clock(m_services.clock)
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
    m_counters = {};
    m_records.reset();
    m_bRecordsFailed = false;
    const std::vector<SerialDeviceInfo> devices = Devices();
    m_tiles.clear();
    m_views.assign(m_job.tiles.size(), TileView{});
    for (std::size_t i = 0; i < m_job.tiles.size(); ++i) {
        m_tiles.push_back(std::make_unique<Tile>());
        m_tiles[i]->job = m_job.tiles[i];
        RefreshTile(i, devices);
    }
    m_selected = m_tiles.empty() ? std::nullopt : std::optional<std::size_t>(0);
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
    // Said now rather than at the first start: the line may not load today.
    if (!m_job.image.empty()) {
        if (const auto approved = ReadApprovedImage(true)) {
            m_jobView.sizeText = approved->frames->m_strFileSize;
            m_jobView.frames = static_cast<std::uint32_t>(approved->frames->m_FrameList.size());
            ShowJob();
        }
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
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
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
    ImageError imageError;
    SharedImage shared = ReadSharedImage(path, {}, true, imageError);
    if (!shared.image) {
        Report({text::kImageUnreadable, KoreanImageError(imageError)});
        return false;
    }
    if (shared.facts.sha256.empty()) {
        Report({text::kImageUnreadable, Utf8FromPath(path) + ": " + text::kNoSha});
        return false;
    }
    const CDownloadImage& image = *shared.image;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    m_job.image = ec ? path : absolute;
    m_job.sha256 = shared.facts.sha256;
    m_jobView.sizeText = image.m_strFileSize;
    m_jobView.frames = static_cast<std::uint32_t>(image.m_FrameList.size());
    ShowJob();
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
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
    // A port that stays keeps its tile: counters, number and binding.
    const std::vector<SerialDeviceInfo> devices = Devices();
    std::vector<std::unique_ptr<Tile>> tiles;
    std::vector<TileView> views;
    for (const std::string& name : names) {
        const auto old = std::find_if(m_tiles.begin(), m_tiles.end(),
                                      [&](const auto& t) { return t && EqualsNoCase(t->job.port, name); });
        if (old != m_tiles.end()) {
            views.push_back(m_views[static_cast<std::size_t>(old - m_tiles.begin())]);
            tiles.push_back(std::move(*old));
        } else {
            tiles.push_back(std::make_unique<Tile>());
            tiles.back()->job = BindTile(name, m_portMap, devices);
            views.emplace_back();
        }
    }
    m_tiles = std::move(tiles);
    m_views = std::move(views);
    m_job.tiles.clear();
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        m_job.tiles.push_back(m_tiles[i]->job);
        m_views[i].selected = false;
        RefreshTile(i, devices);
    }
    m_selected = m_tiles.empty() ? std::nullopt : std::optional<std::size_t>(0);
    if (m_selected)
        m_views[0].selected = true;
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
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
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
    m_records.reset();
    m_bRecordsFailed = false;
    ShowJob();
}

// --- tiles ------------------------------------------------------------------

std::vector<SerialDeviceInfo> CStationLogic::Devices() const { return m_services.devices(); }

void CStationLogic::RefreshTile(std::size_t index, const std::vector<SerialDeviceInfo>& devices)
{
    Tile& tile = *m_tiles[index];
    TileView& v = m_views[index];
    v.name = tile.job.port;
    if (v.state == TileState::Loading)
        return;  // the run keeps what it opened
    tile.now = ResolveTile(tile.job, m_portMap, devices);
    v.device = tile.now.device;
    v.adapter = tile.now.info ? DescribeDevice(*tile.now.info) : std::string();
    if (!tile.now.present) {
        v.state = TileState::NotPresent;
        v.word = text::kNotPresent;
        v.detail.clear();
        v.hint.clear();
    } else if (v.state == TileState::NotPresent || v.word.empty()) {
        v.state = TileState::Idle;
        v.word = text::kIdle;
    }
    UpdateFlags(index);
}

void CStationLogic::UpdateFlags(std::size_t index)
{
    TileView& v = m_views[index];
    const bool loading = v.state == TileState::Loading;
    v.needsSerial = m_job.serialNumbers && v.serialNumber.empty() && !loading;
    v.canStart = !m_bEnded && !loading && m_tiles[index]->now.present && !m_job.sha256.empty() && !v.needsSerial;
    v.canStop = loading;
    v.selected = m_selected == index;
}

void CStationLogic::ShowAllTiles()
{
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
        UpdateFlags(i);
    m_view.ShowTiles(m_views);
}

void CStationLogic::ShowTile(std::size_t index)
{
    UpdateFlags(index);
    m_view.ShowTile(index, m_views[index]);
}

void CStationLogic::OnDevicesChanged()
{
    if (m_bEnded)
        return;
    const std::vector<SerialDeviceInfo> devices = Devices();
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        const TileView before = m_views[i];
        RefreshTile(i, devices);
        if (!(before == m_views[i]))
            m_view.ShowTile(i, m_views[i]);
    }
}

bool CStationLogic::AnyRunning() const
{
    return std::any_of(m_views.begin(), m_views.end(), [](const TileView& v) { return v.state == TileState::Loading; });
}

}  // namespace veltrad
