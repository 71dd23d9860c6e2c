#pragma once
// Output XON/XOFF where the driver does not act on it. With IXON on, an XOFF
// from the terminal stops output only where the driver or the chip honours
// it: the 8250 UARTs, ftdi_sio, cp210x and pl2303 do; ch341 and cdc_acm keep
// sending. For those the port object turns IXON off, takes the flow bytes out
// of the input itself and writes in small pieces while no XOFF holds.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
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

// The terminal's flow state, read from the bytes it sends.
class CFlowFilter {
public:
    // Takes XON and XOFF out of bytes[0, count) in place, notes the last of
    // them, and returns how many data bytes are left at the front.
    std::size_t Filter(std::uint8_t* bytes, std::size_t count);
    // True while the latest flow byte was XOFF.
    bool Held() const { return m_held; }
    void Reset() { m_held = false; }

private:
    bool m_held = false;
};

}  // namespace veltrad
