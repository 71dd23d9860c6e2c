#include "serial/PortIdentity.h"

namespace veltrad {

std::optional<PortTarget> ResolvePort(std::string_view name, const CPortMap& ports)
{
    std::string device(name);
    if (const auto number = ParseComName(name)) {
        const auto mapped = ports.Device(*number);
        if (!mapped)
            return std::nullopt;
        device = *mapped;
    }
    if (device.empty())
        return std::nullopt;
    return PortTarget{device, DeviceIdentity(device)};
}

}  // namespace veltrad
