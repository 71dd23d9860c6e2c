#include "serial/PortError.h"

#include "serial/PortMap.h"

#include <string_view>

namespace veltrad {

namespace {

std::string Why(const PortError& e)
{
    switch (e.reason) {
    case PortErrorReason::None: return {};
    case PortErrorReason::NoPortGiven: return "no port was given";
    case PortErrorReason::PortNumberOutOfRange: return "no such port (COM1 to COM50)";
    case PortErrorReason::NoSuchDevice: return "no such device";
    case PortErrorReason::PermissionDenied: return "permission denied (add your user to the dialout group)";
    case PortErrorReason::InUse: return "in use by another program";
    case PortErrorReason::NotResponding: return "device not responding";
    case PortErrorReason::NotASerialDevice: return "not a serial device";
    case PortErrorReason::ControllingTerminal:
        return "the terminal this program runs in, not a serial line (name the port the terminal is on)";
    case PortErrorReason::Console: return "the console, not a serial line";
    case PortErrorReason::PtyMultiplexer:
        return "the pseudo-terminal multiplexer, not a serial line (name the /dev/pts device instead)";
    case PortErrorReason::LineSettings: return e.detail;
    case PortErrorReason::SystemCall: {
        const std::string system = SystemErrorText(e.systemError);
        return e.detail.empty() ? system : e.detail + ": " + system;
    }
    }
    return "unknown error";
}

}  // namespace

std::string PortError::Message() const
{
    const std::string why = Why(*this);
    if (why.empty() || device.empty())
        return why;
    // The device namespace form that Windows needs from COM10 up is syntax,
    // not part of the name an operator knows.
    std::string_view name = device;
    if (name.starts_with(kDeviceNamespace))
        name.remove_prefix(sizeof kDeviceNamespace - 1);
    return std::string(name) + ": " + why;
}

}  // namespace veltrad
