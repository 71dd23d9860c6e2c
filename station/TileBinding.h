#pragma once
// Which device a tile of the job opens now, and what that device is.

#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "station/StationJob.h"

#include <optional>
#include <string>
#include <vector>

namespace veltrad {

struct TileDevice {
    std::string device;                    // what an open takes; empty when not present
    std::optional<SerialDeviceInfo> info;  // the listed device, when it is listed
    bool present = false;
};

// A bound tile is its location's device, or not present; another tile is
// its port's device, present when listed or when its node exists (a pty, a
// link the system does not list).
TileDevice ResolveTile(const JobTile& tile, const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices);

// The tile for `port`, bound to its adapter's location where it has one now.
JobTile BindTile(const std::string& port, const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices);

// "COM33, COM34 /dev/ttyACM0" as names; blanks and commas separate.
std::vector<std::string> SplitPortNames(const std::string& text);

}  // namespace veltrad
