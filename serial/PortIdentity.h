#pragma once
// Which port a name opens, so that one port is never run twice under two
// names: "COM3", "com3", "COM03", "COM3:" and "\\.\COM3" on Windows; a COM
// name and the device it maps to, a link and its target, a second device
// node or a bind mount of one tty on Linux.

#include "serial/PortMap.h"

#include <optional>
#include <string>
#include <string_view>

namespace veltrad {

struct PortTarget {
    std::string device;    // what an open takes
    std::string identity;  // equal for two names that open one port
};

// What `name` opens through `ports`: a COM name's device, any other name as
// written. Nullopt for a COM number outside COM1..COM50 (mapped in [Ports]
// or not) and for an empty name, which are no port.
std::optional<PortTarget> ResolvePort(std::string_view name, const CPortMap& ports);

// Equal for two devices that are one port. Linux: the device number of what
// the name opens (links followed); where nothing by that name is a device,
// the name made absolute and normal, with the links that exist resolved.
// Windows: the COM name in one form, other names without their case.
std::string DeviceIdentity(const std::string& device);

}  // namespace veltrad
