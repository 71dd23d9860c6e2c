#pragma once
// Output XON/XOFF where the driver does not act on it. With IXON on, an XOFF
// from the terminal stops output only where the driver or the chip honours
// it: the 8250 UARTs, ftdi_sio, cp210x and pl2303 do; ch341 and cdc_acm keep
// sending. For those the port object turns IXON off, takes the flow bytes out
// of the input itself and writes in small pieces while no XOFF holds.

#include "image/Wire.h"
#include "serial/FlowFilter.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrad {

// The kernel driver behind character device `rdev`, as sysfs names it
// ("ftdi_sio", "ch341-uart", "cdc_acm"); "" when sysfs names none, as for
// pseudo-terminals.
std::string SerialDriverName(dev_t rdev, const std::filesystem::path& sysRoot = "/sys");

// False for the drivers known to keep sending while the terminal's XOFF holds.
bool DriverStopsOutputOnXoff(std::string_view driver);

// The bytes written that have not left the line yet, as the writer that
// honours XOFF itself sees them: at least what the line cannot have sent at
// its speed, and what the driver says it holds where that figure can be a
// byte count. cdc_acm answers TIOCOUTQ with its busy write buffers times
// their size, thousands for one short write; a figure above what was written
// since the queue last read empty is such a count and is left out.
class CLinePacer {
public:
    using Clock = std::chrono::steady_clock;

    void Reset(std::uint32_t baudRate);
    // `bytes` were handed to the driver at `now`.
    void Wrote(std::uint32_t bytes, Clock::time_point now);
    // The driver's TIOCOUTQ figure as a byte count; nullopt when it cannot be one.
    std::optional<std::uint32_t> DriverBytes(int driverQueued);
    // What may still go out after an XOFF seen at `now`.
    std::uint32_t Pending(int driverQueued, Clock::time_point now);
    // How long the line takes for `bytes`.
    std::chrono::nanoseconds LineTime(std::uint32_t bytes) const;

private:
    std::uint32_t m_baudRate = kDownloadBaudRate;
    Clock::time_point m_lineFreeAt{};  // when the line has sent everything written
    std::uint32_t m_sinceEmpty = 0;    // bytes written since the driver last reported none
};

}  // namespace veltrad
