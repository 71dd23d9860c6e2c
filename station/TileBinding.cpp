#include "station/TileBinding.h"

#include "download/PortRun.h"
#include "station/StationPlatform.h"

#include <filesystem>

namespace veltrad {

TileDevice ResolveTile(const JobTile& tile, const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices)
{
    TileDevice result;
    if (!tile.location.empty()) {
        for (const SerialDeviceInfo& device : devices) {
            if (DeviceLocation(device) == tile.location)
                return {device.device, device, true};
        }
        return result;
    }
    result.device = ChoosePort(tile.port, ports).device;
    if (result.device.empty())
        return result;
    for (const SerialDeviceInfo& device : devices) {
        if (NamesDevice(result.device, device)) {
            result.info = device;
            result.present = true;
            return result;
        }
    }
    std::error_code ec;
    result.present = std::filesystem::exists(result.device, ec);
    return result;
}

JobTile BindTile(const std::string& port, const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices)
{
    JobTile tile{port, {}};
    if (const TileDevice now = ResolveTile(tile, ports, devices); now.info)
        tile.location = DeviceLocation(*now.info);
    return tile;
}

std::vector<std::string> SplitPortNames(const std::string& text)
{
    std::vector<std::string> names;
    std::string name;
    for (const char c : text + ' ') {
        if (c == ' ' || c == ',' || c == '\t' || c == ';') {
            if (!name.empty())
                names.push_back(std::move(name));
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

}  // namespace veltrad
