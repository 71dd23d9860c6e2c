#include "serial/NotALine_posix.h"

#include "serial/Sysfs_posix.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace veltrad {

namespace {

// Linux's fixed device numbers of the ttys that are no serial line.
constexpr unsigned kTtyAuxMajor = 5;  // /dev/tty 5:0, /dev/console 5:1, /dev/ptmx 5:2
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kFirstSerialMinor = 64;  // major 4 below it: tty0 ... tty63, the virtual consoles

// "4:64" as a tty's dev attribute gives it.
std::optional<dev_t> ParseDeviceNumber(const std::string& text)
{
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major >> colon >> minor) || colon != ':')
        return std::nullopt;
    return ::makedev(major, minor);
}

// True when one of `streams` is a tty with the number `device`: our own
// terminal, whether or not it is our controlling one (setsid drops that).
bool OnStreams(dev_t device, std::span<const int> streams)
{
    return std::any_of(streams.begin(), streams.end(), [device](int fd) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device && ::isatty(fd) == 1;
    });
}

}  // namespace

std::optional<PortErrorReason> NotALine(dev_t device, const std::filesystem::path& sysRoot,
                                        std::span<const int> streams)
{
    const unsigned major = ::major(device);
    const unsigned minor = ::minor(device);
    if (major == kTtyAuxMajor && minor == 0)
        return PortErrorReason::ControllingTerminal;
    if ((major == kTtyAuxMajor && minor == 1) || (major == kVirtualConsoleMajor && minor < kFirstSerialMinor))
        return PortErrorReason::Console;
    if (major == kTtyAuxMajor && minor == 2)
        return PortErrorReason::PtyMultiplexer;
    if (OnStreams(device, streams))
        return PortErrorReason::ControllingTerminal;
    const std::vector<dev_t> consoles = ActiveConsoles(sysRoot);
    if (std::find(consoles.begin(), consoles.end(), device) != consoles.end())
        return PortErrorReason::Console;
    return std::nullopt;
}

std::optional<PortErrorReason> NotALine(int fd, dev_t device, const std::filesystem::path& sysRoot,
                                        std::span<const int> streams)
{
    if (const auto reason = NotALine(device, sysRoot, streams))
        return reason;
    pid_t session = 0;
    if (::ioctl(fd, TIOCGSID, &session) == 0 && session == ::getsid(0))
        return PortErrorReason::ControllingTerminal;
    return std::nullopt;
}

std::vector<dev_t> ActiveConsoles(const std::filesystem::path& sysRoot)
{
    const std::filesystem::path ttys = sysRoot / "class" / "tty";
    std::istringstream names(sysfs::ReadAttribute(ttys / "console" / "active"));
    std::vector<dev_t> consoles;
    for (std::string name; names >> name;) {
        // A name is one path component; anything else is no tty of sysfs.
        if (name.find('/') != std::string::npos || name == "." || name == "..")
            continue;
        if (const auto device = ParseDeviceNumber(sysfs::ReadAttribute(ttys / name / "dev")))
            consoles.push_back(*device);
    }
    return consoles;
}

}  // namespace veltrad
