// The station's tiles as the window shows them, the devices they follow, and
// the serial-number gate.

#include "station/StationLogic.h"

namespace veltrad {

TileRules CStationLogic::Rules() const { return {m_job.serialNumbers, !m_job.sha256.empty(), m_bEnded}; }

std::vector<SerialDeviceInfo> CStationLogic::Devices() const { return m_services.devices(); }

void CStationLogic::Refresh(std::size_t index, const std::vector<SerialDeviceInfo>& devices)
{
    CStationTile& tile = m_board.At(index);
    tile.Refresh(m_portMap, devices);
    tile.UpdateFlags(Rules(), m_board.Selected() == index);
}

void CStationLogic::ShowTile(std::size_t index)
{
    CStationTile& tile = m_board.At(index);
    tile.UpdateFlags(Rules(), m_board.Selected() == index);
    m_view.ShowTile(index, tile.View());
}

void CStationLogic::ShowAllTiles()
{
    for (std::size_t i = 0; i < m_board.Size(); ++i)
        m_board.At(i).UpdateFlags(Rules(), m_board.Selected() == i);
    m_view.ShowTiles(m_board.Views());
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
}

// --- the serial-number gate ---------------------------------------------------

void CStationLogic::OnSelectTile(std::size_t index)
{
    if (index >= m_board.Size() || m_board.Selected() == index)
        return;
    const std::optional<std::size_t> before = m_board.Selected();
    m_board.Select(index);
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
    const std::optional<std::size_t> selected = m_board.Selected();
    if (m_bEnded || !selected || m_board.At(*selected).Loading())
        return;
    m_board.At(*selected).SetSerialNumber(number);
    ShowTile(*selected);
    if (const auto next = m_board.NextWaitingForNumber())
        OnSelectTile(*next);
}

void CStationLogic::ClaimSelection(std::size_t index)
{
    if (!m_job.serialNumbers || !m_board.At(index).View().serialNumber.empty())
        return;
    const std::optional<std::size_t> selected = m_board.Selected();
    if (!selected || !m_board.At(*selected).View().serialNumber.empty() || m_board.At(*selected).Loading())
        OnSelectTile(index);
}

}  // namespace veltrad
