#include "serial/PortMap.h"

#include "app/Profile.h"

namespace veltrad {

std::optional<std::string> DefaultPortDevice(std::uint16_t port)
{
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    if (port <= kLastOnBoardPort)
        return "/dev/ttyS" + std::to_string(port - kFirstPort);
    return "/dev/ttyUSB" + std::to_string(port - kLastOnBoardPort - 1);
}

std::optional<std::string> ResolvePortDevice(std::uint16_t port, const std::filesystem::path& settingsFile)
{
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    const CProfile profile(settingsFile);
    auto device = profile.GetProfileString(kPortsSection, "COM" + std::to_string(port));
    if (device && !device->empty())
        return device;
    return DefaultPortDevice(port);
}

}  // namespace veltrad
