#pragma once
// The simulated terminal's options and what it reports: shared by its model,
// its recording and the simulator that plays it on a line.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace veltrad::sim {

using Clock = std::chrono::steady_clock;

struct SimOptions {
    // Refuse the frame with this index `refuseTimes` times (answering 0x15)
    // before accepting it. Indexes count distinct frames from 0: a frame's
    // index is the number of frames accepted before it, so resends of a
    // refused frame keep its index.
    std::optional<std::size_t> refuseFrame;
    int refuseTimes = 0;

    // Answer every frame with a byte that is not 0x06 and accept none.
    bool garbage = false;

    // Answer frames up to and including this index; later frames get no
    // reply at all and are not accepted.
    std::optional<std::size_t> silentAfter;

    // Wait this long before each reply.
    std::chrono::milliseconds replyDelay{0};

    // Model a USB adapter's latency timer: a reply that is due leaves only at
    // the next tick of this period, counted from the start of the serving
    // thread (0: no timer).
    std::chrono::milliseconds adapterTick{0};

    // Hold the line: send XOFF (0x13) together with the reply to frame
    // N - 1, so the sender stops before frame N, and XON (0x11) `xoffHold`
    // later. For frame 0 the hold starts when the simulator starts.
    std::optional<std::size_t> xoffBeforeFrame;
    std::chrono::milliseconds xoffHold{0};
    // Send a stray 0x06 halfway through that hold, answering nothing: a
    // sender that takes it for the next frame's reply loses that frame.
    bool strayInHold = false;

    // Answer the frame with this index with two ACKs.
    std::optional<std::size_t> doubleAckFrame;

    // The pace of a 115200-baud line: each byte from the sender arrives one
    // byte time after it was written or after the byte before it arrived,
    // whichever is later; the reply starts when the frame's last byte has
    // arrived and reaches the sender one byte time later (about 11.8 ms after
    // a frame written at once). Replies leave on time to within microseconds:
    // the simulator spins through the last moments before each. False: the
    // instant mode, replies at once, which only a host that drops the
    // line-time rule takes (a benchmark of its own turnaround).
    bool pace = true;

    // A frame that stops arriving for this long is dropped and answered
    // with 0x15, so a sender whose write was cut short can resend.
    std::chrono::milliseconds partialFrameTimeout{200};
};

// One frame-sized reception, good or bad, in arrival order.
struct FrameRecord {
    std::uint32_t address = 0;        // as carried by the frame, good or not
    bool good = false;                // STX, ETX, checksum and address sequence held
    bool accepted = false;            // data placed in the image
    std::vector<std::uint8_t> reply;  // bytes sent in answer (XON/XOFF excluded); empty: none
    // Replies are recorded and counted as they are written to the line; over a
    // pty the port under test sees them a moment later.
    Clock::time_point firstByte{};             // arrival of the frame's first byte
    Clock::time_point complete{};              // arrival of its last byte (on the emulated line when pacing)
    std::optional<Clock::time_point> replied;  // when the reply was written
};

struct SimCounters {
    std::size_t framesReceived = 0;  // every frame-sized reception, resends included
    std::size_t framesAccepted = 0;  // distinct frames whose data were taken
    std::size_t badFrames = 0;       // failed STX, ETX, checksum or address checks, or cut short
    std::size_t refusals = 0;        // replies other than 0x06
    std::size_t acksSent = 0;        // 0x06 bytes sent
    std::size_t eots = 0;            // 0x04 bytes received between frames
    std::size_t holds = 0;           // XOFFs sent
    std::size_t bytesWhileHeld = 0;  // bytes that arrived between an XOFF's write and the next XON's
    bool ended = false;              // three 0x04 arrived
};

struct ReceivedImage {
    std::uint32_t baseAddress = 0;    // address of the first accepted frame
    std::vector<std::uint8_t> bytes;  // accepted data from baseAddress on, gaps zero-filled
};

}  // namespace veltrad::sim
