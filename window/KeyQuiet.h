#pragma once
// Keys that follow too closely what they would act on are the hand's habit,
// not the operator's decision: an Enter pressed again after 다 운 로 드 (a key
// repeat, a double press, a few presses in the next seconds) must not stop
// the run or end the window, and a box must not go before it can be read.
// Both windows ask the same rule; the mouse is never held back.

#include "download/Clock.h"

#include <cstdint>

namespace veltrad {

// How long a box that has just opened takes no key.
inline constexpr std::uint32_t kBoxQuietMs = 500;
// How long Enter does nothing after a download started.
inline constexpr std::uint32_t kRunStartQuietMs = 3000;

class CKeyQuiet {
public:
    // `clock` must outlive this; quiet from Restart() on for `quietMs`.
    CKeyQuiet(IClock& clock, std::uint32_t quietMs) : m_clock(clock), m_quietMs(quietMs) {}

    void Restart()
    {
        m_startMs = m_clock.TickCount();
        m_bQuiet = true;
    }
    // Whether a key pressed now counts. A key the keyboard repeats (held
    // down since before) never does; any other once the quiet time is over.
    bool Takes(bool autoRepeat)
    {
        if (m_bQuiet && m_clock.TickCount() - m_startMs >= m_quietMs)
            m_bQuiet = false;  // for good: a tick count that wraps cannot make it quiet again
        return !autoRepeat && !m_bQuiet;
    }

private:
    IClock& m_clock;
    const std::uint32_t m_quietMs;
    std::uint32_t m_startMs = 0;
    bool m_bQuiet = false;
};

}  // namespace veltrad
