// The station's runs: starting them over the approved image, their events on
// the window's thread, their ends and records.

#include "station/StationLogic.h"

#include <algorithm>

namespace veltrad {
namespace {

namespace text = station_text;

}  // namespace

void CStationLogic::OnStartTile(std::size_t index)
{
    if (m_bEnded || index >= m_board.Size())
        return;
    Refresh(index, Devices());
    if (!m_board.At(index).View().canStart) {
        ShowTile(index);
        return;
    }
    AwaitImage({index});
}

void CStationLogic::OnStartAllIdle()
{
    if (m_bEnded)
        return;
    const std::vector<SerialDeviceInfo> devices = Devices();
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < m_board.Size(); ++i) {
        Refresh(i, devices);
        if (m_board.At(i).View().canStart)
            ready.push_back(i);
    }
    if (!ready.empty())
        AwaitImage(ready);
}

// --- the image's check before the starts ---------------------------------------

void CStationLogic::AwaitImage(const std::vector<std::size_t>& tiles)
{
    for (const std::size_t i : tiles) {
        m_board.At(i).AwaitImage();
        m_checkTiles.push_back(i);
        ShowTile(i);
    }
    if (!m_check.Busy())
        BeginCheck();
}

void CStationLogic::BeginCheck() { m_check.Begin(m_job.image, m_job.sha256, m_services.launcher); }

void CStationLogic::TakeImageCheck()
{
    std::optional<ImageRead> read = m_check.Take();
    if (!read)
        return;
    m_checkForJob = false;
    std::vector<std::size_t> tiles;
    tiles.swap(m_checkTiles);
    if (read->image) {
        m_jobView.sizeText = read->image->frames->m_strFileSize;
        m_jobView.frames = static_cast<std::uint32_t>(read->image->frames->m_FrameList.size());
        ShowJob();
    } else {
        m_pendingMessages.push_back(read->refusal);  // after the delivery
    }
    const std::vector<SerialDeviceInfo> devices = Devices();
    for (const std::size_t i : tiles) {
        m_board.At(i).StopAwaiting();
        // As the devices are now: one may have gone during the check.
        Refresh(i, devices);
        if (read->image && m_board.At(i).View().canStart)
            Start(i, *read->image);
        else
            ShowTile(i);
    }
}

void CStationLogic::StopAwaiting(std::size_t index)
{
    m_board.At(index).StopAwaiting();
    m_checkTiles.erase(std::remove(m_checkTiles.begin(), m_checkTiles.end(), index), m_checkTiles.end());
    // Nobody waits for the check any more: its result would go nowhere.
    if (m_checkTiles.empty() && !m_checkForJob)
        m_check.Stop();
    ShowTile(index);
}

void CStationLogic::Start(std::size_t index, const ApprovedImage& image)
{
    CStationTile& tile = m_board.At(index);
    PortRunSetup setup;
    setup.clock = m_clock;
    setup.port = m_services.port ? m_services.port(index) : nullptr;
    setup.launcher = m_services.launcher;
    ++m_counters.loading;
    const std::optional<PortResult> unstarted = tile.Start(image, m_events, std::move(setup), m_clock->TickCount());
    if (!unstarted) {
        ShowTile(index);
        m_view.ShowCounters(m_counters);
        return;
    }
    Finish(index, *unstarted);
    ShowTile(index);
    AfterEnds({index});
}

void CStationLogic::OnStopTile(std::size_t index)
{
    if (index >= m_board.Size())
        return;
    if (m_board.At(index).AwaitingImage())
        StopAwaiting(index);
    else
        m_board.At(index).Stop();
}

void CStationLogic::OnStopAll()
{
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        OnStopTile(i);
}

// --- the runs' events -----------------------------------------------------------

void CStationLogic::DeliverEvents()
{
    // First: the runs it starts report below, in the same delivery.
    TakeImageCheck();
    std::vector<std::size_t> changed;
    std::vector<std::size_t> ended;
    while (const std::optional<RunEvent> event = m_events.Next()) {
        // The tile whose latest run this is; an earlier run's events are dropped.
        const std::optional<std::size_t> index = m_board.FindRun(event->runId);
        if (!index || !m_board.At(*index).Loading())
            continue;
        CStationTile& tile = m_board.At(*index);
        if (event->kind == RunEvent::Kind::Ended) {
            Finish(*index, tile.ResultOf(*event));
            ended.push_back(*index);
        } else if (event->kind == RunEvent::Kind::Progress) {
            tile.Progress(event->acknowledged, m_clock->TickCount());
        }
        if (std::find(changed.begin(), changed.end(), *index) == changed.end())
            changed.push_back(*index);
    }
    // Each tile drawn once per batch, however many frames it moved.
    for (const std::size_t i : changed)
        ShowTile(i);
    AfterEnds(ended);
}

void CStationLogic::Finish(std::size_t index, const PortResult& result)
{
    CStationTile& tile = m_board.At(index);
    tile.Finish(result);
    const TileState state = tile.View().state;
    --m_counters.loading;
    if (state == TileState::Complete)
        ++m_counters.completed;
    else if (state == TileState::Failed)
        ++m_counters.failed;
    Record(tile, result);
    // The next unit needs its own number; a failed one is loaded again as it is.
    if (state == TileState::Complete)
        tile.SetSerialNumber({});
    if (m_job.sounds && !m_bEnding && state != TileState::Idle)
        m_view.PlaySound(state == TileState::Complete ? StationSound::Complete : StationSound::Failed);
}

void CStationLogic::Record(const CStationTile& tile, const PortResult& result)
{
    const LogEntry entry{m_services.now(), result, tile.AdapterSerial(), tile.RunImage()};
    const RecordFacts facts{tile.View().serialNumber, m_services.hostName, m_job.name};
    Tell(m_records.Append(RecordsFolder(), entry, facts));
}

void CStationLogic::Tell(const RecordsNews& news)
{
    // Boxes after the delivery; the counters at once, each time.
    m_pendingMessages.insert(m_pendingMessages.end(), news.messages.begin(), news.messages.end());
    if (m_counters.pendingRecords != news.pending || m_counters.recordsCause != news.cause) {
        m_counters.pendingRecords = news.pending;
        m_counters.recordsCause = news.cause;
        m_view.ShowCounters(m_counters);
    }
}

void CStationLogic::OnTick()
{
    if (m_bEnded || m_records.Pending() == 0)
        return;
    Tell(m_records.Flush());
    std::vector<StationMessage> messages;
    messages.swap(m_pendingMessages);
    for (const StationMessage& message : messages)
        Report(message);
}

void CStationLogic::AfterEnds(const std::vector<std::size_t>& ended)
{
    if (!ended.empty())
        m_view.ShowCounters(m_counters);
    for (const std::size_t i : ended)
        m_view.OnRunEnded(i);
    std::vector<StationMessage> messages;
    messages.swap(m_pendingMessages);
    for (const StationMessage& message : messages)
        Report(message);
}

}  // namespace veltrad
