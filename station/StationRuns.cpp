// The station's runs: starting them over the approved image, their events
// on the window's thread, the serial-number gate and the end.

#include "station/StationLogic.h"

#include "image/Wire.h"
#include "base/Utf8Path.h"
#include "multiport/Outcome.h"
#include "multiport/SharedImage.h"
#include "station/StationTile.h"
#include "window/ReasonTexts.h"

#include <algorithm>
#include <cstdio>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
namespace text = station_text;

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

// Why a tile's run ended, or never started, in the notices' words.
std::string TileReason(const std::string& outcome, const RunStats& stats, const PortError& openError)
{
    for (const RunOutcome ended : {RunOutcome::Completed, RunOutcome::TimedOut, RunOutcome::TimedOutAfterAck,
                                   RunOutcome::Refused, RunOutcome::Stopped, RunOutcome::EndHeld}) {
        if (outcome == OutcomeName(ended))
            return OutcomeReason(ended, stats);
    }
    if (outcome == "port-open-failed")
        return PortOpenFailedReason(openError);
    if (outcome == "thread-failed")
        return text::kThreadFailedReason;
    return text::kNothingToSendReason;  // the station starts no run over an image it could not read
}

}  // namespace

// --- runs ---------------------------------------------------------------------

std::optional<CStationLogic::ApprovedImage> CStationLogic::ReadApprovedImage(bool report)
{
    if (m_job.image.empty() || m_job.sha256.empty()) {
        if (report)
            Report({text::kNoImage, {}});
        return std::nullopt;
    }
    // The digest is of the very bytes that were framed: a file that changes
    // under the read cannot pass for the approved image.
    ImageError imageError;
    SharedImage shared = ReadSharedImage(m_job.image, {}, true, imageError);
    if (!shared.image) {
        if (report)
            Report({text::kImageUnreadable, KoreanImageError(imageError)});
        return std::nullopt;
    }
    const std::string& sha = shared.facts.sha256;
    if (sha.empty()) {
        if (report)
            Report({text::kImageUnreadable, Utf8FromPath(m_job.image) + ": " + text::kNoSha});
        return std::nullopt;
    }
    if (sha != m_job.sha256) {
        if (report) {
            Report({text::kImageChanged, Utf8FromPath(m_job.image) + "\n" + text::kShaOfJob + ": " + m_job.sha256 +
                                             "\n" + text::kShaOfFile + ": " + sha});
        }
        return std::nullopt;
    }
    if (shared.image->m_FrameList.empty()) {
        if (report)
            Report({text::kNothingToSend, Utf8FromPath(m_job.image)});
        return std::nullopt;
    }
    ApprovedImage approved;
    approved.facts = shared.facts;
    approved.facts.path = m_job.image;
    approved.frames = std::move(shared.image);
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
    v.detail = words.state == TileState::Complete ? SecondsText(result->stats.seconds)
                                                  : TileReason(result->outcome, result->stats, tile.run->OpenError());
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
        Report({text::kRecordsUnwritable, Utf8FromPath(folder) + ": " + KoreanErrorCode(ec)});
        return;
    }
    m_view.OpenFolder(folder);
}

}  // namespace veltrad
