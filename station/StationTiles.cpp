// The station's tiles as the window shows them, the devices they follow, and
// the serial-number gate.

#include "station/StationLogic.h"

#include <utility>

namespace veltrad {

TileRules CStationLogic::Rules() const { return {m_job.serialNumbers, !m_job.sha256.empty(), m_bEnded}; }

std::vector<SerialDeviceInfo> CStationLogic::Devices() const { return m_services.devices(); }

void CStationLogic::Refresh(std::size_t index, const std::vector<SerialDeviceInfo>& devices)
{
    CStationTile& tile = m_board.At(index);
    tile.Refresh(m_portMap, devices);
    tile.UpdateFlags(Rules(), Selected() == index);
}

void CStationLogic::ShowTile(std::size_t index)
{
    CStationTile& tile = m_board.At(index);
    tile.UpdateFlags(Rules(), Selected() == index);
    m_view.ShowTile(index, tile.View());
    ShowTarget();
}

void CStationLogic::ShowAllTiles()
{
    m_shownTarget = Selected();
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        m_board.At(i).UpdateFlags(Rules(), m_shownTarget == i);
    m_view.ShowTiles(m_board.Views());
}

void CStationLogic::ShowTarget()
{
    const std::optional<std::size_t> target = Selected();
    if (target == m_shownTarget)
        return;
    const std::optional<std::size_t> before = std::exchange(m_shownTarget, target);
    for (const auto& index : {before, target}) {
        if (index && *index < m_board.Size()) {
            m_board.At(*index).UpdateFlags(Rules(), target == index);
            m_view.ShowTile(*index, m_board.At(*index).View());
        }
    }
}

void CStationLogic::OnDevicesChanged()
{
    if (m_bEnded)
        return;
    const std::vector<SerialDeviceInfo> devices = Devices();
    for (std::size_t i = 0; i < m_board.Size(); ++i) {
        const TileView before = m_board.At(i).View();
        Refresh(i, devices);
        if (!(before == m_board.At(i).View()))
            m_view.ShowTile(i, m_board.At(i).View());
    }
    ShowTarget();
}

// --- the serial-number gate ---------------------------------------------------

std::optional<std::size_t> CStationLogic::Selected() const
{
    const std::optional<std::size_t> selected = m_board.Selected();
    if (selected && m_chosen == selected && !m_board.At(*selected).Loading())
        return selected;
    return m_board.WaitingForNumber();
}

void CStationLogic::Select(std::size_t index)
{
    m_board.Select(index);
    m_chosen.reset();
}

void CStationLogic::OnSelectTile(std::size_t index)
{
    if (index >= m_board.Size() || m_bEnded)
        return;
    m_board.Select(index);
    m_chosen = index;
    ShowTarget();
}

void CStationLogic::OnSerialEntered(const std::string& typed)
{
    const auto first = typed.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || m_bEnded)
        return;
    const std::string number = typed.substr(first, typed.find_last_not_of(" \t\r\n") - first + 1);
    const std::optional<std::size_t> to = Selected();
    if (!to) {
        // Never in place of a number without a word: refused, the field free for the next.
        m_view.ShowScanStatus(number + ": " + station_text::kNoTileForNumber);
        if (m_job.sounds)
            m_view.PlaySound(StationSound::Failed);
        return;
    }
    m_view.ShowScanStatus({});
    m_board.At(*to).SetSerialNumber(number);
    // The next number goes on from here.
    Select(*to);
    ShowTile(*to);
}

KeyRoute CStationLogic::OnKey(ScanKey key, KeyFocus focus, const std::string& fieldText, std::uint32_t timeMs)
{
    const bool empty = fieldText.find_first_not_of(" \t\r\n") == std::string::npos;
    const KeyRoute route = m_keys.Route(key, focus, empty, timeMs);
    if (route == KeyRoute::Number)
        OnSerialEntered(fieldText);
    else if (route == KeyRoute::StartAll)
        OnStartAllIdle();
    return route;
}

}  // namespace veltrad
