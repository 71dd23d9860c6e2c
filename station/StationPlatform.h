#pragma once
// What the station asks of the system, one implementation per platform.

#include "serial/PortList.h"

#include <filesystem>
#include <string>

namespace veltrad {

// The machine's name for the records; "-" is written when it has none.
std::string HostName();

// Where records go when the job names no folder: $XDG_DATA_HOME/Veltrad/records
// (default ~/.local/share) on Linux, %LOCALAPPDATA%\Veltrad\records on
// Windows. Empty when the system names no such folder.
std::filesystem::path DefaultRecordsFolder();

// Where the adapter behind `device` sits, as a name that stays with its USB
// socket when the device number changes: the /dev/serial/by-path name on
// Linux, the port's location path on Windows. Empty when the device has
// none (ptys, Wine's ports; on Windows also the ports of one multi-port
// chip), and a tile then stays with its port's name.
std::string DeviceLocation(const SerialDeviceInfo& device);

}  // namespace veltrad
