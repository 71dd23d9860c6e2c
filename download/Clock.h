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
};

// Steady clock of the machine.
class CSystemClock final : public IClock {
public:
    std::uint32_t TickCount() override;
};

}  // namespace veltrad
