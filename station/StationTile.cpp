#include "station/StationTile.h"

#include "image/Wire.h"
#include "base/NoCase.h"

#include <algorithm>
#include <cstdio>

namespace veltrad {
namespace {

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

}  // namespace

// --- a tile -------------------------------------------------------------------

CStationTile::CStationTile(JobTile job) : m_job(std::move(job)) { m_view.name = m_job.port; }

void CStationTile::Refresh(const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices)
{
    TileView& v = m_view;
    if (Loading())
        return;  // the run keeps what it opened
    m_now = ResolveTile(m_job, ports, devices);
    v.device = m_now.device;
    v.adapter = m_now.info ? DescribeDevice(*m_now.info) : std::string();
    if (!m_resultWord.empty()) {
        // The result stands until the next run; the adapter's absence is said beside it.
        v.word = m_now.present ? m_resultWord : m_resultWord + " · " + text::kNotPresent;
    } else if (!m_now.present) {
        v.state = TileState::NotPresent;
        v.word = text::kNotPresent;
    } else if (v.state == TileState::NotPresent || v.word.empty()) {
        v.state = TileState::Idle;
        v.word = text::kIdle;
    }
}

void CStationTile::UpdateFlags(const TileRules& rules, bool selected)
{
    TileView& v = m_view;
    const bool loading = Loading();
    v.needsSerial = rules.serialNumbers && v.serialNumber.empty() && !loading;
    v.canStart = !rules.ended && !loading && m_now.present && rules.approved && !v.needsSerial;
    v.canStop = loading;
    v.selected = selected;
}

std::optional<PortResult> CStationTile::Start(const ApprovedImage& image, IRunListener& listener, PortRunSetup setup,
                                              std::uint32_t nowMs)
{
    // The earlier run has ended; this joins its worker and closes what it left open.
    m_run.reset();
    m_image = image.facts;
    m_adapterSerial = m_now.info ? m_now.info->serial : std::string();
    m_startedMs = nowMs;
    m_resultWord.clear();
    m_awaiting = false;
    TileView& v = m_view;
    v.state = TileState::Loading;
    v.word = text::kLoading;
    v.hint.clear();
    v.acknowledged = 0;
    v.frames = static_cast<std::uint32_t>(image.frames->m_FrameList.size());
    v.detail = LoadingDetail(0, v.frames, 0);
    m_run = std::make_unique<CPortRun>(listener, std::move(setup));
    m_run->Select({m_job.port, std::nullopt, m_now.device});
    if (const auto unstarted = m_run->Start(image.frames))
        return StartFailure(m_job.port, m_now.device, *unstarted, m_run->OpenError(), v.frames);
    return std::nullopt;
}

void CStationTile::AwaitImage()
{
    m_beforeCheck = m_view;
    m_awaiting = true;
    TileView& v = m_view;
    v.state = TileState::Loading;
    v.word = text::kCheckingImage;
    v.detail.clear();
    v.hint.clear();
    v.acknowledged = 0;
    v.frames = 0;
}

void CStationTile::StopAwaiting()
{
    if (!m_awaiting)
        return;
    m_awaiting = false;
    TileView& v = m_view;
    v.state = m_beforeCheck.state;
    v.word = m_beforeCheck.word;
    v.detail = m_beforeCheck.detail;
    v.hint = m_beforeCheck.hint;
    v.acknowledged = m_beforeCheck.acknowledged;
    v.frames = m_beforeCheck.frames;
}

void CStationTile::Progress(std::uint32_t acknowledged, std::uint32_t nowMs)
{
    m_view.acknowledged = acknowledged;
    m_view.detail = LoadingDetail(acknowledged, m_view.frames, nowMs - m_startedMs);
}

PortResult CStationTile::ResultOf(const RunEvent& ended) const
{
    // The tile's name, whatever device it opened.
    return RunResult(m_job.port, m_run->Port().device, ended.outcome, ended.stats);
}

void CStationTile::Finish(const PortResult& result)
{
    TileView& v = m_view;
    const OutcomeText words = TextOfOutcome(result.outcome);
    v.state = words.state;
    v.word = std::string(words.word);
    m_resultWord = v.word;
    v.hint = std::string(words.hint);
    v.acknowledged = result.stats.acknowledged;
    if (words.state == TileState::Complete)
        v.detail = SecondsText(result.stats.seconds);
    else if (result.outcome == RunOutcome::PortOpenFailed)
        v.detail = PortOpenFailedReason(m_run ? m_run->OpenError() : PortError{});
    else
        v.detail = OutcomeReason(result.outcome, result.stats);
    if (words.state == TileState::Complete)
        ++v.completed;
    else if (words.state == TileState::Failed)
        ++v.failed;
}

void CStationTile::Stop()
{
    if (m_run)
        m_run->Stop();
}

void CStationTile::StopAndJoin()
{
    if (m_run)
        m_run->StopAndJoin();
}

// --- the board ------------------------------------------------------------------

void CTileBoard::Reset(const std::vector<JobTile>& tiles)
{
    m_tiles.clear();
    for (const JobTile& tile : tiles)
        m_tiles.push_back(std::make_unique<CStationTile>(tile));
    m_selected.reset();
}

void CTileBoard::SetPorts(const std::vector<std::string>& names, const CPortMap& ports,
                          const std::vector<SerialDeviceInfo>& devices)
{
    std::vector<std::unique_ptr<CStationTile>> tiles;
    for (const std::string& name : names) {
        const auto old = std::find_if(m_tiles.begin(), m_tiles.end(),
                                      [&](const auto& t) { return t && EqualsNoCase(t->Job().port, name); });
        if (old != m_tiles.end())
            tiles.push_back(std::move(*old));
        else
            tiles.push_back(std::make_unique<CStationTile>(BindTile(name, ports, devices)));
    }
    m_tiles = std::move(tiles);
    m_selected.reset();
}

std::vector<JobTile> CTileBoard::JobTiles() const
{
    std::vector<JobTile> tiles;
    for (const auto& tile : m_tiles)
        tiles.push_back(tile->Job());
    return tiles;
}

std::vector<TileView> CTileBoard::Views() const
{
    std::vector<TileView> views;
    for (const auto& tile : m_tiles)
        views.push_back(tile->View());
    return views;
}

std::optional<std::size_t> CTileBoard::FindRun(std::uint64_t runId) const
{
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i]->OwnsRun(runId))
            return i;
    }
    return std::nullopt;
}

bool CTileBoard::AnyLoading() const
{
    return std::any_of(m_tiles.begin(), m_tiles.end(), [](const auto& t) { return t->Loading(); });
}

std::optional<std::size_t> CTileBoard::WaitingForNumber() const
{
    const std::size_t count = m_tiles.size();
    const std::size_t from = m_selected ? *m_selected + 1 : 0;
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t i = (from + step) % count;
        if (m_tiles[i]->WaitsForNumber())
            return i;
    }
    return std::nullopt;
}

}  // namespace veltrad
