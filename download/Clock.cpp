#include "download/Clock.h"

#include <chrono>

namespace veltrad {

std::uint32_t CSystemClock::TickCount()
{
    // A monotonic clock: a change of the wall-clock time must not end a wait
    // for a reply early or stretch it. Truncation to 32 bits wraps like the
    // tick counter the reply timeout is defined on.
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t CSystemClock::MicroTickCount()
{
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(sinceStart).count();
    return static_cast<std::uint32_t>(us);
}

}  // namespace veltrad
