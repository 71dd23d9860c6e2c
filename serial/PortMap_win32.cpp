#include "serial/PortMap.h"

namespace veltrad {

namespace {

constexpr std::uint16_t kFirstDeviceNamespacePort = 10;  // COM10 and up need "\\.\"

std::string ComDeviceName(std::uint16_t port)
{
    return (port < kFirstDeviceNamespacePort ? std::string() : std::string(kDeviceNamespace)) + "COM" +
           std::to_string(port);
}

}  // namespace

// Windows names its ports itself; the number is the device.
std::optional<std::string> DefaultPortDevice(std::uint16_t port)
{
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    return ComDeviceName(port);
}

// "COM12" alone would name a file in the working folder.
std::string CPortMap::CanonicalDevice(std::string device)
{
    const auto number = ParseComName(device);
    return number ? ComDeviceName(*number) : device;
}

}  // namespace veltrad
