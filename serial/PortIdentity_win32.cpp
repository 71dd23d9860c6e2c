#include "serial/PortIdentity.h"

#include "base/NoCase.h"

#include <algorithm>

namespace veltrad {

// Windows names a port once, in its device namespace and without case.
std::string DeviceIdentity(const std::string& device)
{
    if (const auto number = ParseComName(device))
        return "COM" + std::to_string(*number);
    std::string_view name(device);
    if (name.starts_with(kDeviceNamespace))
        name.remove_prefix(sizeof kDeviceNamespace - 1);
    std::string identity(name);
    std::transform(identity.begin(), identity.end(), identity.begin(), LowerAscii);
    return identity;
}

}  // namespace veltrad
