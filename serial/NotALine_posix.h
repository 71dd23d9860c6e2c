#pragma once
// Ttys that are no line to a terminal, and why: the terminal this program
// runs in (/dev/tty, its own device under any name, the terminal its standard
// streams are on), the consoles (/dev/console, the virtual consoles, and
// every tty the kernel writes its messages to) and the pty multiplexer.
// Taking one would write frames into an operator's screen or the kernel's.

#include "serial/PortError.h"

#include <sys/types.h>

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace veltrad {

inline constexpr std::array<int, 3> kStandardStreams = {0, 1, 2};

// By device number, before anything is opened: Linux's fixed numbers, the
// tty of any of `streams`, the active consoles.
std::optional<PortErrorReason> NotALine(dev_t device, const std::filesystem::path& sysRoot = "/sys",
                                        std::span<const int> streams = kStandardStreams);

// The same on the opened tty `fd` of number `device`, and a tty whose session
// is ours: the terminal this program runs in under its own name.
std::optional<PortErrorReason> NotALine(int fd, dev_t device, const std::filesystem::path& sysRoot = "/sys",
                                        std::span<const int> streams = kStandardStreams);

// The device numbers of the ttys in <sysRoot>/class/tty/console/active:
// every console the kernel writes its messages to, the system console last.
std::vector<dev_t> ActiveConsoles(const std::filesystem::path& sysRoot = "/sys");

}  // namespace veltrad
