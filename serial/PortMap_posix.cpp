#include "serial/PortMap.h"

namespace veltrad {

std::optional<std::string> DefaultPortDevice(std::uint16_t port)
{
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    if (port <= kLastOnBoardPort)
        return "/dev/ttyS" + std::to_string(port - kFirstPort);
    return "/dev/ttyUSB" + std::to_string(port - kLastOnBoardPort - 1);
}

std::string CPortMap::CanonicalDevice(std::string device)
{
    return device;  // a path opens as written
}

}  // namespace veltrad
