#pragma once
// Shared by the Win32 tests over a line: the port numbers the e2e script
// hands over, the write time limit of one frame, and whether Wine runs us.

#include "image/Packet.h"
#include "serial/CommThread.h"

#include "platform/Windows_win32.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace veltrad::test {

using Clock = std::chrono::steady_clock;

constexpr auto kFrameBytes = static_cast<std::uint32_t>(kFrameSize);
// The write time limit for one frame: 1 ms per byte + 1000 ms.
constexpr auto kFrameWriteLimit =
    std::chrono::milliseconds(kWriteTimeoutPerByteMs * kFrameBytes + kWriteTimeoutConstantMs);

inline bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The COM port number in environment variable `name`, if it is set.
inline std::optional<std::uint16_t> PortFromEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return static_cast<std::uint16_t>(std::atoi(value));
}

}  // namespace veltrad::test
