// The serial port object on termios.
//
// Principles of operation
// - Every call that touches the device holds `io` for as long as it uses the
//   descriptor. ClosePort clears the open flag, then wakes a call that waits
//   inside the lock through an eventfd that every wait polls alongside the
//   device, and only then takes the lock to release the device. The eventfd
//   lives as long as the object, so a ClosePort on any thread can always
//   signal it, also while another ClosePort releases the device.
// - The terminal's XOFF stops output in the kernel (IXON) where the driver
//   acts on it; elsewhere this object takes the flow bytes out of the input
//   and keeps at most kOwnFlowWindow bytes in the driver while no XOFF holds
//   (XonXoff_posix.h).
// - A device that hangs up or fails as unplugged is let go at once, so that a
//   replugged adapter gets its old name back; DeviceGone() says so until the
//   next open or close.
// - Every release clears TIOCEXCL before the descriptor closes: a tty that
//   someone else still holds would stay exclusive otherwise.

#include "serial/CommThread.h"

#include "serial/LineSettings_posix.h"
#include "serial/PortMap.h"
#include "serial/PosixIo.h"
#include "serial/XonXoff_posix.h"
#include "settings/Profile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace veltrad {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kBitsPerByte8N1 = 10;  // start + 8 data + stop
// Bytes this object lets the driver hold while it honours XOFF itself: what
// may still go out after the terminal's XOFF, besides the chip's own buffer.
constexpr int kOwnFlowWindow = 16;
constexpr std::size_t kReadChunk = 256;  // bytes taken from the driver at a time

PortError Failure(const std::string& device, PortErrorReason reason, int err = 0, std::string detail = {})
{
    return PortError{device, reason, err, std::move(detail)};
}

// errno of a failed open to the reason an operator reads, mapped once here.
PortError OpenFailure(const std::string& device, int err)
{
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return Failure(device, PortErrorReason::NoSuchDevice, err);
    case EACCES:
    case EPERM: return Failure(device, PortErrorReason::PermissionDenied, err);
    case EBUSY:
    case EWOULDBLOCK: return Failure(device, PortErrorReason::InUse, err);
    case EIO: return Failure(device, PortErrorReason::NotResponding, err);
    case ENOTTY:
    case EINVAL: return Failure(device, PortErrorReason::NotASerialDevice, err);
    default: return Failure(device, PortErrorReason::SystemCall, err);
    }
}

// How an unplugged USB adapter or a hung-up tty answers.
bool IsVanishedError(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV;
}

std::chrono::nanoseconds LineTime(std::uint32_t bytes, std::uint32_t baudRate)
{
    return std::chrono::nanoseconds(std::uint64_t{bytes} * kBitsPerByte8N1 * 1'000'000'000ULL / baudRate);
}

enum class WaitResult { Ready, Woken, TimedOut, HungUp };

// Waits until `fd` is ready for `events`, the wake-up descriptor is signalled
// or `deadline` passes. A negative `fd` waits on the wake-up descriptor only.
WaitResult WaitOn(int fd, short events, int wakeFd, SteadyClock::time_point deadline)
{
    for (;;) {
        const auto left = deadline - SteadyClock::now();
        if (left <= SteadyClock::duration::zero())
            return WaitResult::TimedOut;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
        const int rc = ::ppoll(fds, fd >= 0 ? 2 : 1, &ts, nullptr);
        if (rc < 0) {
            if (errno == EINTR)
                continue;  // the loop recomputes what is left of the wait
            return WaitResult::HungUp;
        }
        if (rc == 0)
            continue;  // ppoll may end a hair early; the deadline decides
        if (fds[0].revents != 0)
            return WaitResult::Woken;
        // A hung-up tty also reports POLLIN with nothing to read: hang-up first.
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            return WaitResult::HungUp;
        if (fds[1].revents & events)
            return WaitResult::Ready;
    }
}

}  // namespace

std::string FormatPortName(std::uint16_t port)
{
    return (port < 10 ? "COM" : "\\\\.\\COM") + std::to_string(port);
}

struct CCommThread::Impl {
    std::mutex io;              // held by every call while it uses `port`
    CUniqueFd port;
    std::atomic<bool> vanished{false};  // written under `io`
    bool pty = false;           // a pseudo-terminal; guarded by `io`
    bool ownFlow = false;       // this object honours XOFF; guarded by `io`
    CFlowFilter flow;           // the terminal's flow state when ownFlow; guarded by `io`
    std::deque<std::uint8_t> input;  // data read ahead when ownFlow; guarded by `io`
    std::uint32_t baudRate = kDownloadBaudRate;  // of the open line; guarded by `io`
    CUniqueFd wake;             // eventfd, signalled by ClosePort
    int wakeError = 0;

    mutable std::mutex info;    // guards the two below
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

    // Lets go of the descriptor; `io` must be held.
    void Drop()
    {
        if (port.Valid())
            (void)::ioctl(port.Get(), TIOCNXCL);  // fails only on a device that has gone
        port.Reset();                              // the flock goes with the descriptor
        input.clear();
        flow.Reset();
    }

    void Vanish()
    {
        vanished = true;
        Drop();
    }

    // Purges and releases the device; `io` must be held. Output flow control
    // goes off first: usb-serial's flush does not reach its own queue, and
    // the close would otherwise wait up to the port's closing wait (30 s) for
    // output that an XOFF or a low CTS holds.
    void Release()
    {
        if (port.Valid()) {
            // Failures here change nothing: the descriptor goes either way.
            termios t{};
            if (::tcgetattr(port.Get(), &t) == 0) {
                const termios unheld = UnheldSettings(t);
                (void)::tcsetattr(port.Get(), TCSANOW, &unheld);
            }
            // A pty has no output queue of its own: flushing output would
            // reach into the other side's input, so only input goes.
            (void)::tcflush(port.Get(), pty ? TCIFLUSH : TCIOFLUSH);
        }
        Drop();
        vanished = false;
    }

    // Bytes waiting in the driver's input queue; nullopt once the device has gone.
    std::optional<int> Queued()
    {
        int queued = 0;
        if (RetryOnEintr([&] { return ::ioctl(port.Get(), FIONREAD, &queued); }) < 0) {
            // A tty answers this unless it has hung up (or is hanging up).
            Vanish();
            return std::nullopt;
        }
        return queued;
    }

    // Moves what the driver has received into `input`, taking out the flow
    // bytes; false once the device has gone.
    bool Pump()
    {
        auto queued = Queued();
        if (!queued)
            return false;
        std::array<std::uint8_t, kReadChunk> chunk{};
        while (*queued > 0) {
            const auto want = std::min<std::size_t>(chunk.size(), static_cast<std::size_t>(*queued));
            const ssize_t got = RetryOnEintr([&] { return ::read(port.Get(), chunk.data(), want); });
            if (got <= 0) {
                if (got < 0 && IsVanishedError(errno)) {
                    Vanish();
                    return false;
                }
                break;
            }
            const std::size_t data = flow.Filter(chunk.data(), static_cast<std::size_t>(got));
            input.insert(input.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(data));
            *queued -= static_cast<int>(got);
        }
        return true;
    }

    // Data bytes ready for ReadComm; nullopt once the device has gone.
    std::optional<std::size_t> Available()
    {
        if (ownFlow)
            return Pump() ? std::optional<std::size_t>(input.size()) : std::nullopt;
        const auto queued = Queued();
        return queued ? std::optional<std::size_t>(static_cast<std::size_t>(std::max(*queued, 0))) : std::nullopt;
    }

    std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count)
    {
        if (ownFlow) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, input.size()));
            std::copy_n(input.begin(), n, buffer);
            input.erase(input.begin(), input.begin() + n);
            return n;
        }
        const ssize_t got = RetryOnEintr([&] { return ::read(port.Get(), buffer, count); });
        if (got < 0) {
            if (IsVanishedError(errno))
                Vanish();
            return 0;
        }
        return static_cast<std::uint32_t>(got);
    }

    bool Open(const std::string& path, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
              std::uint8_t stopBits, XoffHandling xoff, PortError& error);
    bool ApplyLine(const std::string& path, const LineRequest& request, bool kernelStopsOutput,
                   PortError& error);
    std::uint32_t WriteKernelFlow(const std::uint8_t* buffer, std::uint32_t count,
                                  SteadyClock::time_point deadline);
    std::uint32_t WriteOwnFlow(const std::uint8_t* buffer, std::uint32_t count, SteadyClock::time_point deadline);
    std::uint32_t Drain(std::uint32_t written, SteadyClock::time_point deadline);
};

bool CCommThread::Impl::Open(const std::string& path, std::uint32_t baudRate, std::uint8_t dataBits,
                             std::uint8_t parity, std::uint8_t stopBits, XoffHandling xoff, PortError& error)
{
    if (path.empty()) {
        error = Failure(path, PortErrorReason::NoPortGiven);
        return false;
    }
    if (!wake.Valid()) {
        error = Failure(path, PortErrorReason::SystemCall, wakeError, "cannot create a wake-up descriptor");
        return false;
    }
    const auto request = MakeLineRequest(baudRate, dataBits, parity, stopBits, error);
    if (!request) {
        error.device = path;
        return false;
    }
    DrainWake();  // a wake-up meant for the previous opening

    CUniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd.Valid()) {
        error = OpenFailure(path, errno);
        return false;
    }
    termios reported{};
    struct stat st {};
    if (::tcgetattr(fd.Get(), &reported) != 0 || ::fstat(fd.Get(), &st) != 0) {
        error = OpenFailure(path, errno);
        return false;
    }
    // The advisory lock shuts out this program and others that honour it
    // (root ignores TIOCEXCL); TIOCEXCL also keeps out those that do not.
    if (RetryOnEintr([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        error = OpenFailure(path, errno);
        return false;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        error = Failure(path, PortErrorReason::SystemCall, errno, "cannot take the device exclusively");
        return false;
    }
    port = std::move(fd);  // from here on Drop() lets go, TIOCEXCL first
    pty = IsPseudoTerminal(port.Get());
    const bool kernelStopsOutput =
        xoff == XoffHandling::Auto && DriverStopsOutputOnXoff(SerialDriverName(st.st_rdev));
    if (!ApplyLine(path, *request, kernelStopsOutput, error)) {
        Drop();
        return false;
    }
    // Nothing stale either way (a pty: input only, see Release).
    if (::tcflush(port.Get(), pty ? TCIFLUSH : TCIOFLUSH) != 0) {
        error = Failure(path, PortErrorReason::SystemCall, errno, "cannot purge the queues");
        Drop();
        return false;
    }
    // Linux sizes the tty queues itself (4096 bytes of input per tty) and
    // sends XOFF at its own fill thresholds; there is no call to request the
    // 4096-byte queues or the 100-byte XON/XOFF limits, and with one-byte
    // replies neither limit is ever approached.
    vanished = false;
    ownFlow = !kernelStopsOutput;
    this->baudRate = baudRate;
    return true;
}

// Applies the download line to `port` and reads it back.
bool CCommThread::Impl::ApplyLine(const std::string& path, const LineRequest& request, bool kernelStopsOutput,
                                  PortError& error)
{
    termios reported{};
    if (::tcgetattr(port.Get(), &reported) != 0) {
        error = OpenFailure(path, errno);
        return false;
    }
    // Output that an XOFF of an earlier session still holds resumes only when
    // IXON goes off: apply the line without it first, then with it.
    const termios wanted = DownloadSettings(reported, request, kernelStopsOutput);
    const termios unheld = UnheldSettings(wanted);
    int applyError = 0;
    for (const termios* settings : {&unheld, &wanted}) {
        if (RetryOnEintr([&] { return ::tcsetattr(port.Get(), TCSANOW, settings); }) != 0 && applyError == 0)
            applyError = errno;
    }
    // glibc reports EINVAL when the driver kept only part of the settings;
    // reading them back tells which part.
    termios applied{};
    if (::tcgetattr(port.Get(), &applied) != 0) {
        error = Failure(path, PortErrorReason::SystemCall, errno, "cannot read back the line settings");
        return false;
    }
    error = CheckSettings(wanted, applied, pty);
    if (error.Failed()) {
        error.device = path;
        return false;
    }
    if (applyError != 0) {
        error = Failure(path, PortErrorReason::SystemCall, applyError, "cannot apply the line settings");
        return false;
    }
    return true;
}

std::uint32_t CCommThread::Impl::WriteKernelFlow(const std::uint8_t* buffer, std::uint32_t count,
                                                 SteadyClock::time_point deadline)
{
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t n = RetryOnEintr([&] { return ::write(port.Get(), buffer + written, count - written); });
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            if (IsVanishedError(errno))
                Vanish();
            return written;
        }
        switch (WaitOn(port.Get(), POLLOUT, wake.Get(), deadline)) {
        case WaitResult::Ready: continue;
        case WaitResult::HungUp: Vanish(); return written;
        case WaitResult::Woken:
        case WaitResult::TimedOut: return Drain(written, SteadyClock::now());  // held by XOFF, or a close
        }
    }
    return Drain(written, deadline);
}

// Writes while no XOFF holds, keeping at most kOwnFlowWindow bytes in the
// driver, and reads ahead meanwhile so that an XOFF is seen at once.
std::uint32_t CCommThread::Impl::WriteOwnFlow(const std::uint8_t* buffer, std::uint32_t count,
                                              SteadyClock::time_point deadline)
{
    std::uint32_t written = 0;
    while (written < count) {
        if (!Pump())
            return written;
        short events = POLLIN;  // the terminal's next byte may be XON or XOFF
        auto until = deadline;
        if (!flow.Held()) {
            int queued = 0;
            if (::ioctl(port.Get(), TIOCOUTQ, &queued) != 0) {
                if (IsVanishedError(errno))
                    Vanish();
                return written;
            }
            if (queued < kOwnFlowWindow) {
                const auto piece = std::min<std::uint32_t>(static_cast<std::uint32_t>(kOwnFlowWindow - queued),
                                                           count - written);
                const ssize_t n = RetryOnEintr([&] { return ::write(port.Get(), buffer + written, piece); });
                if (n > 0) {
                    written += static_cast<std::uint32_t>(n);
                    continue;
                }
                if (n < 0 && errno != EAGAIN) {
                    if (IsVanishedError(errno))
                        Vanish();
                    return written;
                }
                events |= POLLOUT;  // the driver is full: wait for room
            } else {
                // Look again once the line has taken the excess.
                const auto excess = static_cast<std::uint32_t>(queued - kOwnFlowWindow + 1);
                until = std::min(deadline, SteadyClock::now() + LineTime(excess, baudRate));
            }
        }
        switch (WaitOn(port.Get(), events, wake.Get(), until)) {
        case WaitResult::Ready: break;
        case WaitResult::HungUp: Vanish(); return written;
        case WaitResult::Woken: return Drain(written, SteadyClock::now());
        case WaitResult::TimedOut:
            if (SteadyClock::now() >= deadline)
                return Drain(written, SteadyClock::now());
            break;
        }
    }
    return Drain(written, deadline);
}

// Waits until the driver holds none of the `written` bytes or `deadline`
// passes, woken by ClosePort. Returns how many of them left. tcdrain() is not
// used: it blocks without limit while the other side holds XOFF.
std::uint32_t CCommThread::Impl::Drain(std::uint32_t written, SteadyClock::time_point deadline)
{
    using namespace std::chrono;
    for (;;) {
        int pending = 0;
        if (::ioctl(port.Get(), TIOCOUTQ, &pending) != 0) {
            if (IsVanishedError(errno))
                Vanish();
            return written;  // nothing more can be learned
        }
        const auto left = static_cast<std::uint32_t>(std::clamp<int>(pending, 0, static_cast<int>(written)));
        if (left == 0)
            return written;
        if (SteadyClock::now() >= deadline) {
            // The write ends here, as a timed-out write does: what has not left
            // is dropped (a failure leaves it to the close's purge). A pty keeps
            // no output of its own to drop (see Release).
            if (!pty)
                (void)::tcflush(port.Get(), TCOFLUSH);
            return written - left;
        }
        // Sleep about as long as the queued bytes need at the line's speed.
        const auto step = std::min<SteadyClock::time_point>(
            deadline, SteadyClock::now() + std::max<nanoseconds>(LineTime(left, baudRate), milliseconds(1)));
        if (WaitOn(-1, 0, wake.Get(), step) == WaitResult::Woken)
            return written - left;
    }
}

CCommThread::CCommThread() : m_impl(std::make_unique<Impl>()) {}

CCommThread::~CCommThread()
{
    ClosePort();
}

bool CCommThread::OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                           std::uint8_t stopBits)
{
    m_bConnected = false;
    m_strPortName = FormatPortName(port);
    const auto device = ResolvePortDevice(port, CProfile::DefaultPath());
    const std::lock_guard lock(m_impl->io);
    m_impl->Release();  // callers close first; a port left open is not leaked
    if (!device) {
        m_impl->SetInfo({}, Failure("COM" + std::to_string(port), PortErrorReason::PortNumberOutOfRange));
        return false;
    }
    PortError error;
    const bool ok = m_impl->Open(*device, baudRate, dataBits, parity, stopBits, m_xoffHandling, error);
    m_impl->SetInfo(*device, std::move(error));
    m_bConnected = ok;
    return ok;
}

bool CCommThread::OpenDevice(const std::string& device, std::uint32_t baudRate, std::uint8_t dataBits,
                             std::uint8_t parity, std::uint8_t stopBits)
{
    m_bConnected = false;
    m_strPortName = device;
    const std::lock_guard lock(m_impl->io);
    m_impl->Release();
    PortError error;
    const bool ok = m_impl->Open(device, baudRate, dataBits, parity, stopBits, m_xoffHandling, error);
    m_impl->SetInfo(device, std::move(error));
    m_bConnected = ok;
    return ok;
}

void CCommThread::ClosePort()
{
    m_bConnected = false;
    if (m_impl->wake.Valid())
        m_impl->SignalWake();
    const std::lock_guard lock(m_impl->io);
    m_bConnected = false;  // again, in case an OpenPort on another thread finished meanwhile
    m_impl->Release();
}

std::uint32_t CCommThread::ReadComm(std::uint8_t* buffer, std::uint32_t count)
{
    // The flag is tested before the lock too, so a caller polling a closed
    // port does not keep ClosePort from the lock.
    if (buffer == nullptr || count == 0 || !m_bConnected)
        return 0;
    const std::lock_guard lock(m_impl->io);
    if (!m_bConnected || !m_impl->port.Valid())
        return 0;
    const auto available = m_impl->Available();
    if (!available || *available == 0)
        return 0;
    return m_impl->Take(buffer, count);
}

std::uint32_t CCommThread::WriteComm(const std::uint8_t* buffer, std::uint32_t count)
{
    using namespace std::chrono;
    if (buffer == nullptr || count == 0 || !m_bConnected)
        return 0;
    const std::lock_guard lock(m_impl->io);
    if (!m_bConnected || !m_impl->port.Valid())
        return 0;
    const auto deadline =
        SteadyClock::now() + milliseconds(std::uint64_t{count} * kWriteTimeoutPerByteMs + kWriteTimeoutConstantMs);
    return m_impl->ownFlow ? m_impl->WriteOwnFlow(buffer, count, deadline)
                           : m_impl->WriteKernelFlow(buffer, count, deadline);
}

bool CCommThread::WaitForInput(std::chrono::milliseconds timeout)
{
    if (!m_bConnected)
        return true;
    const auto deadline = SteadyClock::now() + timeout;
    const std::lock_guard lock(m_impl->io);
    Impl& d = *m_impl;
    for (;;) {
        if (!m_bConnected || !d.port.Valid())
            return true;  // closed, or the device has gone: nothing to wait for
        const auto available = d.Available();
        if (!available || *available > 0)
            return true;  // gone, or a byte to read
        switch (WaitOn(d.port.Get(), POLLIN, d.wake.Get(), deadline)) {
        case WaitResult::Ready: continue;  // Available() confirms before reporting
        case WaitResult::Woken: return true;
        case WaitResult::TimedOut: return false;
        case WaitResult::HungUp:
            if (const auto left = d.Available(); left && *left > 0)
                return true;  // let the reader take what arrived before the hang-up
            d.Vanish();
            return true;
        }
    }
}

bool CCommThread::DeviceGone() const
{
    return m_impl->vanished.load();
}

PortError CCommThread::LastPortError() const
{
    const std::lock_guard lock(m_impl->info);
    return m_impl->lastError;
}

std::string CCommThread::DevicePath() const
{
    const std::lock_guard lock(m_impl->info);
    return m_impl->device;
}

}  // namespace veltrad
