#include "serial/PortMap.h"

#include "settings/Profile.h"

namespace veltrad {

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
