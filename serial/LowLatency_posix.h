#pragma once
// Low-latency mode on POSIX. Linux's FTDI driver, and others like it, hold
// received bytes until a latency timer runs out (16 ms by default) unless the
// port asks for ASYNC_LOW_LATENCY, which any user may set; the timer then
// drops to 1 ms. Ports that know no such flag (pseudo-terminals, some USB
// drivers) answer ENOTTY, EINVAL or EPERM: low latency is then simply not
// had, and the open goes on as before.

#include "serial/AdapterInfo.h"

#include <filesystem>
#include <mutex>

namespace veltrad {

// Driver and latency timer of the tty whose sysfs class directory is
// `ttyDir` (/sys/class/tty/ttyUSB0, or /sys/dev/char/188:0 which links
// there). Empty fields where sysfs has nothing.
AdapterInfo ReadSysfsAdapter(const std::filesystem::path& ttyDir);

// Owned by the port object next to its descriptor. Request and Restore run
// under the port's own lock; Info may be read from any thread.
class CLowLatencyMode {
public:
    // After the open: sets ASYNC_LOW_LATENCY where TIOCGSERIAL works, then
    // reads the adapter's driver and latency timer. Never fails the open.
    void Request(int fd);
    // Before the close: clears the flag again if Request set it.
    void Restore(int fd);
    // What the latest Request found; kept after Restore.
    AdapterInfo Info() const;

private:
    mutable std::mutex m_lock;  // guards m_info
    AdapterInfo m_info;
    bool m_bSetByUs = false;
};

}  // namespace veltrad
