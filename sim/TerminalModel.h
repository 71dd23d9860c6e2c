#pragma once
// The terminal in download mode as a pure state machine: bytes and their
// arrival times go in; replies with the times they are due, and the
// recording, come out. It holds no descriptor, takes no lock and reads no
// clock, so the same inputs give the same outputs; the simulator feeds it
// from a line and writes its replies when they fall due.

#include "sim/Recording.h"
#include "sim/SimTypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace veltrad::sim {

class CTerminalModel {
public:
    explicit CTerminalModel(const SimOptions& options);

    // The run starts at `now`: the adapter timer ticks from here, and a hold
    // before frame 0 begins.
    void Start(Clock::time_point now);

    // Bytes read from the line at `now`. Bytes after the closing sequence are ignored.
    void Feed(const std::uint8_t* data, std::size_t count, Clock::time_point now);

    // When the frame being received is dropped if nothing more arrives; none
    // between frames.
    std::optional<Clock::time_point> PartialExpiry() const;

    // Drops and answers the frame being received when it has expired by `now`;
    // true when it did.
    bool ExpirePartial(Clock::time_point now);

    // Requests from the program driving the simulator, effective at `now`.
    void HoldLine(Clock::time_point now, std::chrono::milliseconds hold);
    void SendRaw(Clock::time_point now, std::vector<std::uint8_t> bytes);

    // The output queue, ordered by due time (equal times keep their order).
    bool HasOutput() const { return !m_outbox.empty(); }
    Clock::time_point NextDue() const;                   // only with HasOutput()
    const std::vector<std::uint8_t>& NextBytes() const;  // only with HasOutput()

    // The first `count` bytes of NextBytes() went out at `at`: they are
    // recorded as the reply they belong to. True when the entry is complete
    // and left the queue.
    bool Written(std::size_t count, Clock::time_point at);

    // Discards the next entry unsent (the line is gone).
    void DropNext();

    bool Ended() const { return m_recording.counters.ended; }
    const CRecording& Recording() const { return m_recording; }

private:
    struct Output {
        std::vector<std::uint8_t> bytes;
        std::optional<std::size_t> record;  // frame record this reply answers
    };

    void FrameComplete(Clock::time_point now);
    void CutShort(Clock::time_point now);
    void Reply(std::size_t record, std::vector<std::uint8_t> bytes, Clock::time_point now, bool holdBeforeNext);
    void ScheduleHold(Clock::time_point at, std::chrono::milliseconds hold, std::vector<std::uint8_t>* prefixOf);
    std::uint8_t NextGarbage();
    std::size_t Record(std::uint32_t address, bool good);

    SimOptions m_options;
    CRecording m_recording;

    std::vector<std::uint8_t> m_partial;
    Clock::time_point m_partialFirst{};
    Clock::time_point m_partialLast{};
    // With pacing, when the last byte from the sender has fully arrived on
    // the emulated line; a byte arrives no sooner than one byte time after
    // the one before it.
    Clock::time_point m_lineArrival{};
    std::optional<std::uint32_t> m_lastAccepted;
    int m_refusedSoFar = 0;
    int m_eotRun = 0;
    std::size_t m_garbageNext = 0;
    bool m_xoffDone = false;
    bool m_holding = false;                             // an XOFF has gone out and no XON since
    Clock::time_point m_tickOrigin{};                   // the adapter timer's first tick
    std::multimap<Clock::time_point, Output> m_outbox;  // equal times keep their order
};

}  // namespace veltrad::sim
