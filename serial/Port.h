#pragma once
// The port as the transfer sees it. CCommThread is the real one; tests may
// script their own to control every byte and every millisecond.

#include "serial/AdapterInfo.h"
#include "serial/PortError.h"

#include <chrono>
#include <cstdint>
#include <string>

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

    // Returns when the bytes have left the host or the write time limit
    // (1 ms per byte + 1000 ms) struck, with the count that left by then.
    // The limit holds only while the host has the bytes: bytes handed on to
    // an adapter or its chip count as sent and go out on their own time.
    virtual std::uint32_t WriteComm(const std::uint8_t* buffer, std::uint32_t count) = 0;

    // WriteComm for a transmission that a reply is to answer: input received
    // before its bytes have left the host (dropped just before each hand-over
    // to the driver and, where the driver's queue says so, while it still
    // holds any of them) is dropped, for it cannot answer them. What comes
    // after counts.
    virtual std::uint32_t WriteTransmission(const std::uint8_t* buffer, std::uint32_t count) = 0;

    // A frame needs kFrameLineTimeUs from the start of its write to reach the
    // terminal, on every port: a pseudo-terminal may be a relay to a real
    // line, so no terminal can answer sooner. Only a test's or a benchmark's
    // own port says false, to script replies or measure the host's turnaround
    // without line time; the ports the programs open never do.
    virtual bool HasLineTime() const { return true; }

    // Blocks until a byte is queued, the port is closed (from any thread), the
    // device has gone, or `timeout` has passed, whichever comes first.
    // Consumes nothing. Returns false only when the timeout passed with
    // nothing queued and the port open.
    virtual bool WaitForInput(std::chrono::milliseconds timeout) = 0;

    // True once the port has reported that its device went away (unplugged,
    // hung up); from then on every call returns at once with nothing, until
    // the port is closed or opened again. The open flag stays up: only
    // ClosePort lowers it.
    virtual bool DeviceGone() const = 0;

    // Clears the open flag first, aborts pending I/O on other threads at once,
    // discards both queues and releases the device. Safe from any thread, and
    // on a closed port.
    virtual void ClosePort() = 0;
};

// A port that a session opens and closes itself: by number (COM1 = 1 ...
// COM50 = 50) or by device. CCommThread is the real one.
class ISerialPort : public IPort {
public:
    // Open exclusively and apply the line settings; false when the port did
    // not open (LastPortError says why). A port still open is closed first.
    virtual bool OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                          std::uint8_t stopBits) = 0;
    virtual bool OpenDevice(const std::string& device, std::uint32_t baudRate, std::uint8_t dataBits,
                            std::uint8_t parity, std::uint8_t stopBits) = 0;
    // Why the latest open failed; reason None after success.
    virtual PortError LastPortError() const = 0;
    // The same in words, naming the device once; empty after success.
    std::string LastOpenError() const { return LastPortError().Message(); }
    // The device the latest open used.
    virtual std::string DevicePath() const = 0;
    // What the latest open found out about the adapter; nothing by default.
    virtual AdapterInfo Adapter() const { return {}; }
};

}  // namespace veltrad
