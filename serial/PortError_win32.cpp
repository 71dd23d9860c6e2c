#include "serial/PortError.h"

#include "platform/ErrorText_win32.h"

#include <cstdio>

namespace veltrad {

// The system's text for an error code and the code itself.
std::string SystemErrorText(int systemError)
{
    const auto error = static_cast<DWORD>(systemError);
    const std::string message = Win32ErrorText(error);
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return message.empty() ? std::string(code) : message + " (" + code + ")";
}

}  // namespace veltrad
