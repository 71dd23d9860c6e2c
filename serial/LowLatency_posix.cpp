#include "serial/LowLatency_posix.h"

#include "serial/Sysfs_posix.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <string>

namespace veltrad {

namespace fs = std::filesystem;

namespace {

constexpr char kSysfsRoot[] = "/sys";

// /sys/dev/char/MAJOR:MINOR names the tty behind a descriptor, whatever
// path (a by-id link, a symlink of the operator's own) opened it.
fs::path TtyDirOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return {};
    return fs::path(kSysfsRoot) / "dev" / "char" /
           (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
}

}  // namespace

AdapterInfo ReadSysfsAdapter(const fs::path& ttyDir)
{
    AdapterInfo info;
    if (ttyDir.empty())
        return info;
    const fs::path device = ttyDir / "device";
    info.driver = sysfs::DeviceDriver(device);
    const std::string timer = sysfs::ReadAttribute(device / "latency_timer");
    int ms = 0;
    const auto [end, error] = std::from_chars(timer.data(), timer.data() + timer.size(), ms);
    if (!timer.empty() && error == std::errc() && end == timer.data() + timer.size())
        info.latencyTimerMs = ms;
    return info;
}

void CLowLatencyMode::Request(int fd)
{
    bool granted = false;
    m_bSetByUs = false;
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        if (serial.flags & ASYNC_LOW_LATENCY) {
            granted = true;
        } else {
            serial.flags |= ASYNC_LOW_LATENCY;
            // ENOTTY, EINVAL, EPERM or anything else: not supported here.
            granted = m_bSetByUs = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
        }
    }
    // Read after the request: the driver lowers the timer as it takes it.
    AdapterInfo info = ReadSysfsAdapter(TtyDirOf(fd));
    info.lowLatencyGranted = granted;
    const std::lock_guard lock(m_lock);
    m_info = std::move(info);
}

void CLowLatencyMode::Restore(int fd)
{
    if (!m_bSetByUs)
        return;
    m_bSetByUs = false;
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    // Nothing to do about a refusal: the descriptor closes either way.
    (void)::ioctl(fd, TIOCSSERIAL, &serial);
}

AdapterInfo CLowLatencyMode::Info() const
{
    const std::lock_guard lock(m_lock);
    return m_info;
}

}  // namespace veltrad
