#include "serial/XonXoff_posix.h"

#include "serial/CommThread.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <system_error>

namespace veltrad {

std::string SerialDriverName(dev_t rdev, const std::filesystem::path& sysRoot)
{
    const auto link = sysRoot / "dev" / "char" / (std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev))) /
                      "device" / "driver";
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

bool DriverStopsOutputOnXoff(std::string_view driver)
{
    // ch341: the chip has no XON/XOFF of its own and the driver ignores the
    // tty's stop. cdc_acm: the ACM class has no flow control at all.
    static constexpr std::array<std::string_view, 2> kIgnoreXoff = {"ch341-uart", "cdc_acm"};
    return std::find(kIgnoreXoff.begin(), kIgnoreXoff.end(), driver) == kIgnoreXoff.end();
}

}  // namespace veltrad
