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

void CLinePacer::Reset(std::uint32_t baudRate)
{
    m_baudRate = baudRate;
    m_lineFreeAt = {};
    m_sinceEmpty = 0;
}

void CLinePacer::Wrote(std::uint32_t bytes, Clock::time_point now)
{
    m_lineFreeAt = std::max(m_lineFreeAt, now) + LineTime(bytes);
    m_sinceEmpty += bytes;
}

std::optional<std::uint32_t> CLinePacer::DriverBytes(int driverQueued)
{
    if (driverQueued <= 0) {
        m_sinceEmpty = 0;
        return 0;
    }
    const auto queued = static_cast<std::uint32_t>(driverQueued);
    return queued <= m_sinceEmpty ? std::optional<std::uint32_t>(queued) : std::nullopt;
}

std::uint32_t CLinePacer::Pending(int driverQueued, Clock::time_point now)
{
    std::uint32_t onLine = 0;
    if (m_lineFreeAt > now) {
        // Rounded up: a byte the line has begun is not gone.
        const auto ns = static_cast<std::uint64_t>(std::chrono::nanoseconds(m_lineFreeAt - now).count());
        const std::uint64_t byteBitNs = std::uint64_t{kBitsPerByteOnLine} * 1'000'000'000ULL;
        onLine = static_cast<std::uint32_t>((ns * m_baudRate + byteBitNs - 1) / byteBitNs);
    }
    return std::max(onLine, DriverBytes(driverQueued).value_or(0));
}

std::chrono::nanoseconds CLinePacer::LineTime(std::uint32_t bytes) const
{
    return std::chrono::nanoseconds(std::uint64_t{bytes} * kBitsPerByteOnLine * 1'000'000'000ULL / m_baudRate);
}

}  // namespace veltrad
