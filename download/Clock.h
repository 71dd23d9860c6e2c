#pragma once
// Millisecond tick source for the reply timeout. Injectable, so the 5000 ms
// boundary can be tested without waiting five seconds.

#include <cstdint>

namespace veltrad {

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual std::uint32_t TickCount() = 0;
    // Microseconds since an arbitrary start, wrapping at 2^32: differences
    // are exact up to 71 minutes. For measuring, never for deciding. By
    // default TickCount in microseconds, which keeps the same differences.
    virtual std::uint32_t MicroTickCount() { return TickCount() * 1000u; }
};

// Steady clock of the machine.
class CSystemClock final : public IClock {
public:
    std::uint32_t TickCount() override;
    std::uint32_t MicroTickCount() override;
};

}  // namespace veltrad
