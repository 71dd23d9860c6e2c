#pragma once
// The termios port object's state, shared by CommThread_posix.cpp (opening,
// closing, the public calls) and PortIo_posix.cpp (reading, writing and
// waiting on the device).

#include "serial/CommThread.h"
#include "serial/LineSettings_posix.h"
#include "serial/LowLatency_posix.h"
#include "serial/PosixIo.h"
#include "serial/XonXoff_posix.h"

#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace veltrad {

using SteadyClock = std::chrono::steady_clock;

enum class WaitResult { Ready, Woken, TimedOut, HungUp };

// Waits until `fd` is ready for `events`, the wake-up descriptor is signalled
// or `deadline` passes. A negative `fd` waits on the wake-up descriptor only.
WaitResult WaitOn(int fd, short events, int wakeFd, SteadyClock::time_point deadline);

// How an unplugged USB adapter or a hung-up tty answers.
bool IsVanishedError(int err);

struct CCommThread::Impl {
    std::mutex io;  // held by every call while it uses `port`
    CUniqueFd port;
    std::atomic<bool> vanished{false};  // written under `io`
    bool pty = false;                   // a pseudo-terminal; guarded by `io`
    bool exclusive = false;             // TIOCEXCL set by this object; guarded by `io`
    bool ownFlow = false;               // this object honours XOFF; guarded by `io`
    CFlowFilter flow;                   // the terminal's flow state when ownFlow; guarded by `io`
    std::deque<std::uint8_t> input;     // data read ahead when ownFlow; guarded by `io`
    CLinePacer pacer;                   // what has not left the line; guarded by `io`
    bool dropEarlier = false;           // the write under way is a transmission; guarded by `io`
    CUniqueFd wake;                     // eventfd, signalled by ClosePort
    CLowLatencyMode lowLatency;         // requested on `port`; guarded by `io`
    int wakeError = 0;

    mutable std::mutex info;  // guards the two below
    std::string device;
    PortError lastError;

    Impl()
    {
        wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake.Valid())
            wakeError = errno;
    }

    void SetInfo(std::string dev, PortError error)
    {
        const std::lock_guard lock(info);
        device = std::move(dev);
        lastError = std::move(error);
    }

    void SignalWake()
    {
        const std::uint64_t one = 1;
        // Fails only when the counter is already huge, which still wakes everyone.
        (void)RetryOnEintr([&] { return ::write(wake.Get(), &one, sizeof one); });
    }

    void DrainWake()
    {
        std::uint64_t count = 0;
        (void)RetryOnEintr([&] { return ::read(wake.Get(), &count, sizeof count); });
    }

    // Lets go of the descriptor, clearing the TIOCEXCL it set first; `io` must be held.
    void Drop();
    // The device has gone: noted for DeviceGone() and let go at once.
    void Vanish();
    // Purges and releases the device; `io` must be held.
    void Release();

    bool Open(const std::string& path, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
              std::uint8_t stopBits, XoffHandling xoff, PortError& error);
    bool ApplyLine(const std::string& path, const LineRequest& request, bool kernelStopsOutput, PortError& error);

    // The device's I/O (PortIo_posix.cpp); `io` must be held, the descriptor valid.
    // Bytes waiting in the driver's input queue; nullopt once the device has gone.
    std::optional<int> Queued();
    // Moves what the driver has received into `input`, taking out the flow
    // bytes; false once the device has gone.
    bool Pump();
    // Data bytes ready for ReadComm; nullopt once the device has gone.
    std::optional<std::size_t> Available();
    std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count);
    std::uint32_t WriteKernelFlow(const std::uint8_t* buffer, std::uint32_t count, SteadyClock::time_point deadline);
    std::uint32_t WriteOwnFlow(const std::uint8_t* buffer, std::uint32_t count, SteadyClock::time_point deadline);
    std::uint32_t Drain(std::uint32_t written, SteadyClock::time_point deadline);
    // During a transmission: what has been received so far came before its
    // bytes left, and cannot answer them.
    void DropEarlierInput();
    // One write() of up to `count` bytes: Took adds what the driver took to
    // `written`; Full when it took nothing for now; Failed when the port
    // failed (a vanished device is let go).
    enum class WriteStep { Took, Full, Failed };
    WriteStep WriteSome(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t& written);
};

}  // namespace veltrad
