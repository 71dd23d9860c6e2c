#pragma once
// The terminal's XON/XOFF as the port object reads it from the input, for the
// drivers that do not act on it themselves (both backends).

#include <cstddef>
#include <cstdint>

namespace veltrad {

// Bytes the port object lets the driver hold while it honours XOFF itself:
// what may still go out after the terminal's XOFF, besides the chip's own
// buffer.
inline constexpr std::uint32_t kOwnFlowWindow = 16;

// The terminal's flow state, read from the bytes it sends.
class CFlowFilter {
public:
    // Takes XON and XOFF out of bytes[0, count) in place, notes the last of
    // them, and returns how many data bytes are left at the front.
    std::size_t Filter(std::uint8_t* bytes, std::size_t count);
    // True while the latest flow byte was XOFF.
    bool Held() const { return m_held; }
    void Reset() { m_held = false; }

private:
    bool m_held = false;
};

}  // namespace veltrad
