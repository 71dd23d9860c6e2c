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
#include "sim/SimTypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrad::sim {

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
    bool WaitFor(const std::function<bool(const SimCounters&)>& predicate, std::chrono::milliseconds timeout);

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
