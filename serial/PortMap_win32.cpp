#include "serial/PortMap.h"

namespace veltrad {

// Windows names its ports itself; the number is the device.
std::optional<std::string> DefaultPortDevice(std::uint16_t port)
{
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    return "COM" + std::to_string(port);
}

}  // namespace veltrad
