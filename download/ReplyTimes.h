#pragma once
// The reply times of a run: from the end of each frame write to the first
// byte read after it. A USB adapter that holds received bytes for its latency
// timer, or a terminal slow to answer, shows here long before it shows in the
// total time.
//
// A write "ends" when its frame has left the line: the write's return, or its
// start plus the frame's time on the line, whichever is later. A
// UART's driver returns once the bytes are out, but a USB adapter's returns as
// soon as the adapter has taken them, a whole frame time early; counted from
// there, every USB adapter would look 11.7 ms slow.

#include "download/RunObserver.h"
#include "image/Wire.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace veltrad {

class CReplyTimes {
public:
    // `frames` sizes the store for a run without resends.
    explicit CReplyTimes(std::size_t frames = 0, std::uint32_t lineTimeUs = kFrameLineTimeUs);

    // A frame write began at `startTick` and returned at `endTick`
    // (IClock::MicroTickCount).
    void WriteEnded(std::uint32_t startTick, std::uint32_t endTick);
    // A reply byte was read at `microTick`. Only the first one after a write
    // counts; a byte with no write before it does not. A reply that came
    // before the frame could have left the line counts as 0.
    void ReplyRead(std::uint32_t microTick);

    // Writes replies, replyMsMedian and replyMsP95 into `stats`.
    void Fill(RunStats& stats) const;

private:
    std::uint32_t m_lineTimeUs;
    std::optional<std::uint32_t> m_writeEnd;
    std::vector<std::uint32_t> m_micros;
};

}  // namespace veltrad
