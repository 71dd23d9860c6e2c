#pragma once
// Output XON/XOFF where the driver does not act on it. With IXON on, an XOFF
// from the terminal stops output only where the driver or the chip honours
// it: the 8250 UARTs, ftdi_sio, cp210x and pl2303 do; ch341 and cdc_acm keep
// sending. For those the port object turns IXON off, takes the flow bytes out
// of the input itself and writes in small pieces while no XOFF holds.

#include "serial/FlowFilter.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace veltrad {

// The kernel driver behind character device `rdev`, as sysfs names it
// ("ftdi_sio", "ch341-uart", "cdc_acm"); "" when sysfs names none, as for
// pseudo-terminals.
std::string SerialDriverName(dev_t rdev, const std::filesystem::path& sysRoot = "/sys");

// False for the drivers known to keep sending while the terminal's XOFF holds.
bool DriverStopsOutputOnXoff(std::string_view driver);

}  // namespace veltrad
