#include "serial/PortError.h"

#include "platform/Windows_win32.h"

#include <cstdio>

namespace veltrad {

// The system's text for an error code, without the trailing line break, and
// the code itself.
std::string SystemErrorText(int systemError)
{
    const auto error = static_cast<DWORD>(systemError);
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr)
        message.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return message.empty() ? std::string(code) : message + " (" + code + ")";
}

}  // namespace veltrad
