#pragma once
// veltrad-sim: the KV-9090 terminal in download mode, played on a
// pseudo-terminal that the simulator creates or on a serial device it is
// given. It checks each 135-byte frame, answers 0x06 (accepted) or 0x15
// (refused), places accepted data at the frame's address and ends its run
// when three 0x04 arrive. On request it misbehaves the ways a real terminal
// or cable can, so the transfer can be tested against every answer.
//
// The simulator runs on a thread of its own; every accessor below is safe to
// call from any thread while it runs. Nothing here prints.

#include "image/Wire.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

    // Answer the frame with this index with two ACKs.
    std::optional<std::size_t> doubleAckFrame;

    // Emulate the pace of a 115200-baud line: each byte from the sender
    // arrives one byte time after it was written or after the byte before
    // it arrived, whichever is later; the reply starts when the frame's last
    // byte has arrived and reaches the sender one byte time later (about
    // 11.8 ms after a frame written at once). Replies leave on time to within
    // microseconds: the simulator spins through the last moments before each.
    bool pace = false;

    // A frame that stops arriving for this long is dropped and answered
    // with 0x15, so a sender whose write was cut short can resend.
    std::chrono::milliseconds partialFrameTimeout{200};
};

// One frame-sized reception, good or bad, in arrival order.
struct FrameRecord {
    std::uint32_t address = 0;             // as carried by the frame, good or not
    bool good = false;                      // STX, ETX, checksum and address sequence held
    bool accepted = false;                  // data placed in the image
    std::vector<std::uint8_t> reply;        // bytes sent in answer (XON/XOFF excluded); empty: none
    // Replies are recorded and counted as they are written to the line; over a
    // pty the port under test sees them a moment later.
    Clock::time_point firstByte{};          // arrival of the frame's first byte
    Clock::time_point complete{};           // arrival of its last byte (on the emulated line when pacing)
    std::optional<Clock::time_point> replied;  // when the reply was written
};

struct SimCounters {
    std::size_t framesReceived = 0;  // every frame-sized reception, resends included
    std::size_t framesAccepted = 0;  // distinct frames whose data were taken
    std::size_t badFrames = 0;       // failed STX, ETX, checksum or address checks, or cut short
    std::size_t refusals = 0;        // replies other than 0x06
    std::size_t acksSent = 0;        // 0x06 bytes sent
    std::size_t eots = 0;            // 0x04 bytes received between frames
    bool ended = false;              // three 0x04 arrived
};

struct ReceivedImage {
    std::uint32_t baseAddress = 0;    // address of the first accepted frame
    std::vector<std::uint8_t> bytes;  // accepted data from baseAddress on, gaps zero-filled
};

class CSimulator {
public:
    // Creates a new pseudo-terminal and plays the terminal on its master
    // side; DevicePath() names the slave for the program under test. On
    // failure returns null and puts the reason in `error`.
    static std::unique_ptr<CSimulator> CreateOnPty(const SimOptions& options, std::string& error);

    // Plays the terminal on an existing serial device (raw, 115200 8N1).
    static std::unique_ptr<CSimulator> OpenDevice(const std::string& device, const SimOptions& options,
                                                  std::string& error);

    ~CSimulator();  // stops the thread and releases the line
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    // The device a program under test opens (the pty slave or the device given).
    const std::string& DevicePath() const;

    // Starts serving on the simulator's own thread. False when already started.
    bool Start();

    // Ends the thread (releasing any held line with XON first); safe to call twice.
    void Stop();

    // Blocks until three 0x04 have arrived, Stop() was called or `timeout`
    // passed; true when the run ended by its three 0x04.
    bool WaitForEnd(std::chrono::milliseconds timeout);

    // Blocks until `predicate` holds for the counters (checked at every
    // change) or `timeout` passes; returns the predicate's last value.
    bool WaitFor(const std::function<bool(const SimCounters&)>& predicate,
                 std::chrono::milliseconds timeout);

    // Convenience forms of WaitFor.
    bool WaitForFramesReceived(std::size_t count, std::chrono::milliseconds timeout);
    bool WaitForFramesAccepted(std::size_t count, std::chrono::milliseconds timeout);

    // Holds the line now: XOFF at once, XON after `hold`.
    void HoldLine(std::chrono::milliseconds hold);

    // Sends raw bytes to the program under test (stray bytes, extra replies).
    void SendRaw(std::vector<std::uint8_t> bytes);

    SimCounters Counters() const;
    std::vector<FrameRecord> Frames() const;
    ReceivedImage Image() const;

    // "frames N, refusals R, bytes B" plus the base address.
    std::string Summary() const;

    // Writes Image().bytes to `file`; false with `error` set when it cannot.
    bool WriteImage(const std::string& file, std::string& error) const;

private:
    struct Impl;
    explicit CSimulator(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace veltrad::sim
