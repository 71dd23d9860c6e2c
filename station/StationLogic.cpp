#include "station/StationLogic.h"

#include "image/Wire.h"
#include "multiport/Sha256.h"
#include "station/StationPlatform.h"
#include "station/TileBinding.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
namespace text = station_text;

constexpr std::size_t kShortShaDigits = 16;

std::string Utf8(const fs::path& path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "312/1024 프레임 · 10.8 KiB/s · 41 초 남음" once the rate is known.
std::string LoadingDetail(std::uint32_t acknowledged, std::uint32_t frames, std::uint32_t elapsedMs)
{
    char buffer[160];
    int n = std::snprintf(buffer, sizeof buffer, "%u/%u %s", acknowledged, frames, text::kFrames);
    if (acknowledged > 0 && elapsedMs > 0) {
        const double seconds = elapsedMs / 1000.0;
        const double kib = acknowledged * static_cast<double>(kBlockSize) / 1024.0 / seconds;
        const double left = (frames - acknowledged) * seconds / acknowledged;
        std::snprintf(buffer + n, sizeof buffer - static_cast<std::size_t>(n), " · %.1f KiB/s · %.0f %s %s", kib, left,
                      text::kSeconds, text::kSecondsLeft);
    }
    return buffer;
}

std::string SecondsText(double seconds)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.2f %s", seconds, text::kSeconds);
    return buffer;
}

}  // namespace

struct CStationLogic::Tile {
    JobTile job;
    TileDevice now;
    std::unique_ptr<CPortRun> run;
    std::uint64_t generation = 0;
    std::uint32_t startedMs = 0;
    ImageFacts image;  // of the run's image
    std::string adapterSerial;
};

struct CStationLogic::ApprovedImage {
    std::shared_ptr<const CDownloadImage> frames;
    ImageFacts facts;
};

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
    v.imagePath = Utf8(m_job.image);
    v.imageName = Utf8(m_job.image.filename());
    v.sha = m_job.sha256;
    v.shaShort = m_job.sha256.substr(0, kShortShaDigits);
    v.ports.clear();
    for (const JobTile& tile : m_job.tiles)
        v.ports += (v.ports.empty() ? "" : " ") + tile.port;
    v.serialNumbers = m_job.serialNumbers;
    v.sounds = m_job.sounds;
    v.records = Utf8(RecordsFolder());
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
    std::string error;
    std::optional<StationJob> job = ReadJobFile(file, error);
    if (!job) {
        Report({text::kJobUnreadable, error});
        return false;
    }
    SetJob(std::move(*job), Utf8(file), true);
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
    std::string error;
    if (!WriteJobFile(file, m_job, error)) {
        Report({text::kJobUnsaved, error});
        return false;
    }
    m_jobView.file = Utf8(file);
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
    auto image = std::make_shared<CDownloadImage>();
    image->SetFile(path);
    ImageError imageError;
    if (!image->BuildFrames(&imageError)) {
        Report({text::kImageUnreadable, imageError.Message()});
        return false;
    }
    std::string error;
    const auto sha = Sha256OfFile(path, error);
    if (!sha) {
        Report({text::kImageUnreadable, error});
        return false;
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    m_job.image = ec ? path : absolute;
    m_job.sha256 = *sha;
    m_jobView.sizeText = image->m_strFileSize;
    m_jobView.frames = static_cast<std::uint32_t>(image->m_FrameList.size());
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
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (Upper(names[i]) == Upper(names[j])) {
                Report({text::kPortTwice, names[i]});
                return false;
            }
        }
    }
    // A port that stays keeps its tile: counters, number and binding.
    const std::vector<SerialDeviceInfo> devices = Devices();
    std::vector<std::unique_ptr<Tile>> tiles;
    std::vector<TileView> views;
    for (const std::string& name : names) {
        const auto old = std::find_if(m_tiles.begin(), m_tiles.end(),
                                      [&](const auto& t) { return t && Upper(t->job.port) == Upper(name); });
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

// --- runs ---------------------------------------------------------------------

std::optional<CStationLogic::ApprovedImage> CStationLogic::ReadApprovedImage(bool report)
{
    if (m_job.image.empty() || m_job.sha256.empty()) {
        if (report)
            Report({text::kNoImage, {}});
        return std::nullopt;
    }
    // Hashed before and after the framing: frames read from a file that
    // changed meanwhile do not pass for the approved image.
    std::string error;
    std::optional<std::string> sha = Sha256OfFile(m_job.image, error);
    auto image = std::make_shared<CDownloadImage>();
    image->SetFile(m_job.image);
    ImageError imageError;
    if (sha && !image->BuildFrames(&imageError)) {
        if (report)
            Report({text::kImageUnreadable, imageError.Message()});
        return std::nullopt;
    }
    if (sha && *sha == m_job.sha256)
        sha = Sha256OfFile(m_job.image, error);
    if (!sha) {
        if (report)
            Report({text::kImageUnreadable, error});
        return std::nullopt;
    }
    if (*sha != m_job.sha256) {
        if (report) {
            Report({text::kImageChanged,
                    Utf8(m_job.image) + "\nSHA-256 (job): " + m_job.sha256 + "\nSHA-256 (file): " + *sha});
        }
        return std::nullopt;
    }
    if (image->m_FrameList.empty()) {
        if (report)
            Report({text::kNothingToSend, Utf8(m_job.image)});
        return std::nullopt;
    }
    ApprovedImage approved;
    approved.facts.path = m_job.image;
    approved.facts.size = image->m_dwFileSize;
    approved.facts.sha256 = *sha;
    approved.frames = std::move(image);
    return approved;
}

void CStationLogic::OnStartTile(std::size_t index)
{
    if (m_bEnded || index >= m_tiles.size())
        return;
    RefreshTile(index, Devices());
    if (!m_views[index].canStart) {
        ShowTile(index);
        return;
    }
    if (const auto image = ReadApprovedImage(true))
        Start(index, *image);
}

void CStationLogic::OnStartAllIdle()
{
    if (m_bEnded)
        return;
    const std::vector<SerialDeviceInfo> devices = Devices();
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        RefreshTile(i, devices);
        if (m_views[i].canStart)
            ready.push_back(i);
    }
    if (ready.empty())
        return;
    const auto image = ReadApprovedImage(true);
    if (!image)
        return;
    for (const std::size_t i : ready)
        Start(i, *image);
}

void CStationLogic::Start(std::size_t index, const ApprovedImage& image)
{
    Tile& tile = *m_tiles[index];
    TileView& v = m_views[index];
    // The earlier run has ended; this joins its worker and closes what it left open.
    tile.run.reset();
    const std::uint64_t generation = ++m_nGeneration;
    tile.generation = generation;
    tile.image = image.facts;
    tile.adapterSerial = tile.now.info ? tile.now.info->serial : std::string();
    tile.startedMs = m_clock->TickCount();
    v.state = TileState::Loading;
    v.word = text::kLoading;
    v.hint.clear();
    v.acknowledged = 0;
    v.frames = static_cast<std::uint32_t>(image.frames->m_FrameList.size());
    v.detail = LoadingDetail(0, v.frames, 0);
    ++m_counters.loading;
    PortRunHooks hooks;
    hooks.clock = m_clock;
    hooks.port = m_services.port ? m_services.port(index) : nullptr;
    hooks.onProgress = [this, index, generation] { Queue({index, generation, false}); };
    hooks.onEnded = [this, index, generation] { Queue({index, generation, true}); };
    // A bound tile opens the device in its socket now; others their port.
    const std::string port = tile.job.location.empty() ? tile.job.port : tile.now.device;
    tile.run = std::make_unique<CPortRun>(port, tile.now.device, m_portMap, m_endSignal, m_services.launcher,
                                          std::move(hooks));
    ShowTile(index);
    m_view.ShowCounters(m_counters);
    tile.run->Start(image.frames);
}

void CStationLogic::OnStopTile(std::size_t index)
{
    if (index < m_tiles.size() && m_tiles[index]->run)
        m_tiles[index]->run->Stop();
}

void CStationLogic::OnStopAll()
{
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
        OnStopTile(i);
}

void CStationLogic::Finish(std::size_t index)
{
    Tile& tile = *m_tiles[index];
    TileView& v = m_views[index];
    std::optional<PortResult> result = tile.run->Result();
    if (!result)
        return;
    result->port = tile.job.port;  // the tile's name, whatever device it opened
    const OutcomeText& words = TextOfOutcome(result->outcome);
    v.state = words.state;
    v.word = std::string(words.word);
    v.hint = std::string(words.hint);
    v.acknowledged = result->stats.acknowledged;
    v.detail = words.state == TileState::Complete ? SecondsText(result->stats.seconds) : result->words;
    --m_counters.loading;
    if (words.state == TileState::Complete) {
        ++v.completed;
        ++m_counters.completed;
    } else if (words.state == TileState::Failed) {
        ++v.failed;
        ++m_counters.failed;
    }
    Record(index, *result);
    // The next unit needs its own number; a failed one is loaded again as it is.
    if (words.state == TileState::Complete)
        v.serialNumber.clear();
    if (m_job.sounds && !m_bEnding && words.state != TileState::Idle)
        m_view.PlaySound(words.state == TileState::Complete ? StationSound::Complete : StationSound::Failed);
    // A tile that waits for a number again takes the selection from one that does not.
    if (m_job.serialNumbers && v.serialNumber.empty() &&
        (!m_selected || !m_views[*m_selected].serialNumber.empty() || m_views[*m_selected].state == TileState::Loading))
        OnSelectTile(index);
}

void CStationLogic::Record(std::size_t index, const PortResult& result)
{
    const Tile& tile = *m_tiles[index];
    const fs::path folder = RecordsFolder();
    if (!m_records || m_records->Folder() != folder)
        m_records = std::make_unique<CStationRecords>(folder);
    const LogEntry entry{m_services.now(), result, tile.adapterSerial, tile.image};
    const RecordFacts facts{m_views[index].serialNumber, m_services.hostName, m_job.name};
    std::string error;
    if (m_records->Append(entry, facts, error)) {
        m_bRecordsFailed = false;
        return;
    }
    // Said once; the tile shows its result all the same.
    if (!m_bRecordsFailed)
        m_pendingMessages.push_back({text::kRecordsUnwritable, error});
    m_bRecordsFailed = true;
}

void CStationLogic::Report(const StationMessage& message)
{
    if (!m_bEnding && !m_bEnded)
        m_view.ShowMessage(message);
}

// --- the serial-number gate ---------------------------------------------------

void CStationLogic::OnSelectTile(std::size_t index)
{
    if (index >= m_tiles.size() || m_selected == index)
        return;
    const std::optional<std::size_t> before = m_selected;
    m_selected = index;
    if (before)
        ShowTile(*before);
    ShowTile(index);
}

void CStationLogic::OnSerialEntered(const std::string& typed)
{
    const auto first = typed.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        OnStartAllIdle();
        return;
    }
    const std::string number = typed.substr(first, typed.find_last_not_of(" \t\r\n") - first + 1);
    if (m_bEnded || !m_selected || m_views[*m_selected].state == TileState::Loading)
        return;
    m_views[*m_selected].serialNumber = number;
    ShowTile(*m_selected);
    MoveSelection();
}

void CStationLogic::MoveSelection()
{
    // The next tile, in order and round, that is waiting for a number.
    const std::size_t count = m_tiles.size();
    const std::size_t from = m_selected.value_or(count - 1);
    for (std::size_t step = 1; step <= count; ++step) {
        const std::size_t i = (from + step) % count;
        const TileView& v = m_views[i];
        if (v.state != TileState::Loading && v.state != TileState::NotPresent && v.serialNumber.empty()) {
            OnSelectTile(i);
            return;
        }
    }
}

// --- the runs' events -----------------------------------------------------------

void CStationLogic::Queue(const Event& event)
{
    bool wasEmpty;
    {
        const std::lock_guard lock(m_eventLock);
        wasEmpty = m_events.empty();
        m_events.push_back(event);
    }
    // One wake-up per batch: the window's thread takes everything queued by then.
    if (wasEmpty)
        m_view.PostEvents();
}

std::optional<CStationLogic::Event> CStationLogic::NextEvent()
{
    const std::lock_guard lock(m_eventLock);
    if (m_events.empty())
        return std::nullopt;
    const Event event = m_events.front();
    m_events.pop_front();
    return event;
}

void CStationLogic::DeliverEvents()
{
    std::vector<std::size_t> changed;
    std::vector<std::size_t> ended;
    while (const std::optional<Event> event = NextEvent()) {
        if (event->tile >= m_tiles.size())
            continue;
        Tile& tile = *m_tiles[event->tile];
        TileView& v = m_views[event->tile];
        if (event->generation != tile.generation || v.state != TileState::Loading || !tile.run)
            continue;
        if (event->ended) {
            Finish(event->tile);
            ended.push_back(event->tile);
        } else {
            v.acknowledged = tile.run->Line(false).acknowledged;
            v.detail = LoadingDetail(v.acknowledged, v.frames, m_clock->TickCount() - tile.startedMs);
        }
        if (std::find(changed.begin(), changed.end(), event->tile) == changed.end())
            changed.push_back(event->tile);
    }
    // Each tile drawn once per batch, however many frames it moved.
    for (const std::size_t i : changed)
        ShowTile(i);
    if (!ended.empty())
        m_view.ShowCounters(m_counters);
    for (const std::size_t i : ended)
        m_view.OnRunEnded(i);
    std::vector<StationMessage> messages;
    messages.swap(m_pendingMessages);
    for (const StationMessage& message : messages)
        Report(message);
}

// --- ending ---------------------------------------------------------------------

void CStationLogic::StopAndJoinAll()
{
    for (auto& tile : m_tiles) {
        if (tile->run)
            tile->run->Stop();
    }
    for (auto& tile : m_tiles) {
        if (tile->run)
            tile->run->Join();
    }
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
    End();
}

void CStationLogic::OnEndRequested()
{
    if (!m_bEnded)
        End();
}

void CStationLogic::End()
{
    m_bEnding = true;
    StopAndJoinAll();
    m_bEnded = true;
    m_view.EndWindow();
}

void CStationLogic::OnOpenRecordsFolder()
{
    const fs::path folder = RecordsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        Report({text::kRecordsUnwritable, Utf8(folder) + ": " + ec.message()});
        return;
    }
    m_view.OpenFolder(folder);
}

}  // namespace veltrad
