#pragma once
// Why a port did not open, as a value: both backends fill it, Message() words
// it for every front end.

#include <string>

namespace veltrad {

enum class PortErrorReason {
    None,
    NoPortGiven,           // an empty device name
    PortNumberOutOfRange,  // a COM number outside COM1..COM50
    NoSuchDevice,
    PermissionDenied,
    InUse,  // another program holds it
    NotResponding,
    NotASerialDevice,
    ControllingTerminal,  // the terminal this program runs in (/dev/tty or its own device)
    Console,              // the system console or a virtual console
    PtyMultiplexer,       // /dev/ptmx, which makes a new pseudo-terminal at each open
    LineSettings,         // `detail` says which setting the device cannot take
    SystemCall,           // `detail` names the failing step; `systemError` says why
};

struct PortError {
    std::string device;  // as named by the operator or formed by the open; may be empty
    PortErrorReason reason = PortErrorReason::None;
    int systemError = 0;  // errno or GetLastError() of the failing call; 0 when none
    std::string detail;

    bool Failed() const { return reason != PortErrorReason::None; }

    // "<device>: <why>", naming the device once (Windows' "\\.\" prefix left
    // out); "" when nothing failed.
    std::string Message() const;
};

// The system's own words for `systemError`, one implementation per platform.
std::string SystemErrorText(int systemError);

}  // namespace veltrad
