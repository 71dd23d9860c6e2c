#pragma once
// The port as the transfer sees it. CCommThread is the real one; tests may
// script their own to control every byte and every millisecond.

#include <chrono>
#include <cstdint>

namespace veltrad {

class IPort {
public:
    virtual ~IPort() = default;

    // The open flag: true exactly while the port is open and configured.
    // Read afresh at every test; it is the run's only stop signal.
    virtual bool IsConnected() const = 0;

    // Returns at once: 0 when nothing is queued, otherwise up to `count`
    // bytes; the rest stays queued.
    virtual std::uint32_t ReadComm(std::uint8_t* buffer, std::uint32_t count) = 0;

    // Returns when the bytes have left for the line or the write time limit
    // (1 ms per byte + 1000 ms) struck, with the count sent by then.
    virtual std::uint32_t WriteComm(const std::uint8_t* buffer, std::uint32_t count) = 0;

    // Blocks until a byte is queued, the port is closed (from any thread), or
    // `timeout` has passed, whichever comes first. Consumes nothing. Returns
    // false only when the timeout passed with nothing queued and the port open.
    virtual bool WaitForInput(std::chrono::milliseconds timeout) = 0;

    // Clears the open flag first, aborts pending I/O on other threads at once,
    // discards both queues and releases the device. Safe from any thread, and
    // on a closed port.
    virtual void ClosePort() = 0;
};

}  // namespace veltrad
