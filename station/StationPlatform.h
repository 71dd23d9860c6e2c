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
// Linux. Empty when the device has none (on-board ports, ptys, and Windows
// for now, where a tile stays with its COM name).
std::string DeviceLocation(const SerialDeviceInfo& device);

}  // namespace veltrad
