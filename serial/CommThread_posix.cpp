// The serial port object on termios.
//
// Every call that touches the device holds `io` for as long as it uses the
// descriptor. ClosePort clears the open flag, then wakes a call that waits
// inside the lock through an eventfd that every wait polls alongside the
// device, and only then takes the lock to purge and release the device. The
// eventfd lives as long as the object, so a ClosePort on any thread can always
// signal it, also while another ClosePort releases the device.

#include "serial/CommThread.h"

#include "settings/Profile.h"
#include "serial/LowLatency_posix.h"
#include "serial/PortMap.h"
#include "serial/PosixIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

namespace veltrad {

namespace {

using SteadyClock = std::chrono::steady_clock;

// DCB parity and stop-bit codes beyond the defaults in CommThread.h.
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;
constexpr std::uint8_t kTwoStopBits = 2;

// Unix98 pseudo-terminal slaves (/dev/pts/N) use these majors.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

constexpr std::uint32_t kBitsPerByte8N1 = 10;  // start + 8 data + stop

std::optional<speed_t> BaudConstant(std::uint32_t baud)
{
    struct Entry {
        std::uint32_t rate;
        speed_t constant;
    };
    static constexpr Entry kRates[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
    };
    for (const auto& e : kRates)
        if (e.rate == baud)
            return e.constant;
    return std::nullopt;
}

// errno to the words an operator reads, mapped once for this backend.
std::string ErrorText(int err)
{
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "no such device";
    case EACCES:
    case EPERM:
        return "permission denied (add your user to the dialout group)";
    case EBUSY:
    case EWOULDBLOCK:
        return "in use by another program";
    case EIO:
        return "device not responding";
    case ENOTTY:
        return "not a serial device";
    default:
        return std::strerror(err);
    }
}

std::string DeviceError(const std::string& device, const std::string& what)
{
    return device + ": " + what;
}

bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= kPtySlaveMajorFirst && maj <= kPtySlaveMajorLast;
}

// The framing the caller asked for, as termios bits.
struct LineRequest {
    speed_t speed = B115200;
    tcflag_t size = CS8;
    tcflag_t parity = 0;  // PARENB, PARODD, CMSPAR bits
    tcflag_t stop = 0;    // CSTOPB or 0
};

std::optional<LineRequest> MakeLineRequest(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                                           std::uint8_t stopBits, std::string& why)
{
    LineRequest req;
    if (auto speed = BaudConstant(baudRate))
        req.speed = *speed;
    else {
        why = "unsupported baud rate " + std::to_string(baudRate);
        return std::nullopt;
    }
    switch (dataBits) {
    case 5: req.size = CS5; break;
    case 6: req.size = CS6; break;
    case 7: req.size = CS7; break;
    case 8: req.size = CS8; break;
    default:
        why = "unsupported data bits " + std::to_string(dataBits);
        return std::nullopt;
    }
    switch (parity) {
    case kNoParity: req.parity = 0; break;
    case kOddParity: req.parity = PARENB | PARODD; break;
    case kEvenParity: req.parity = PARENB; break;
    case kMarkParity: req.parity = PARENB | CMSPAR | PARODD; break;
    case kSpaceParity: req.parity = PARENB | CMSPAR; break;
    default:
        why = "unsupported parity code " + std::to_string(parity);
        return std::nullopt;
    }
    switch (stopBits) {
    case kOneStopBit: req.stop = 0; break;
    case kTwoStopBits: req.stop = CSTOPB; break;
    default:  // 1.5 stop bits has no termios form
        why = "unsupported stop-bit code " + std::to_string(stopBits);
        return std::nullopt;
    }
    return req;
}

// Raw binary line with XON/XOFF both ways; every other setting stays as the
// port reported it (hardware handshake included).
termios DownloadSettings(termios t, const LineRequest& req)
{
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                                        IXANY | IMAXBEL);
    t.c_iflag |= IXON | IXOFF;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= req.size | req.parity | req.stop | CLOCAL | CREAD;
    t.c_cc[VSTART] = kXonChar;
    t.c_cc[VSTOP] = kXoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, req.speed);
    cfsetospeed(&t, req.speed);
    return t;
}

// What the driver kept of the settings that matter; empty when all held.
// A pseudo-terminal always carries 8-bit bytes without parity: it holds the
// 8N1 download framing, and any other framing is reported, not pretended.
std::string CheckSettings(const termios& want, const termios& got, bool pty)
{
    constexpr tcflag_t kInputBits = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK;
    constexpr tcflag_t kLocalBits = ICANON | ECHO | ISIG | IEXTEN;
    constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
    if (cfgetospeed(&got) != cfgetospeed(&want) || cfgetispeed(&got) != cfgetispeed(&want))
        return "the driver refused the baud rate";
    if ((got.c_cflag & kFramingBits) != (want.c_cflag & kFramingBits))
        return pty ? "a pseudo-terminal carries only 8 data bits without parity"
                   : "the driver refused the data bits or parity";
    if ((got.c_cflag & CSTOPB) != (want.c_cflag & CSTOPB))
        return "the driver refused the stop bits";
    if ((got.c_iflag & kInputBits) != (want.c_iflag & kInputBits) || (got.c_oflag & OPOST) ||
        (got.c_lflag & kLocalBits) != (want.c_lflag & kLocalBits))
        return "the driver refused raw mode with XON/XOFF";
    if (got.c_cc[VSTART] != kXonChar || got.c_cc[VSTOP] != kXoffChar || got.c_cc[VMIN] != 0 ||
        got.c_cc[VTIME] != 0)
        return "the driver refused the XON/XOFF or read settings";
    return {};
}

bool IsVanishedError(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV;
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
    bool vanished = false;      // the device hung up; guarded by `io`
    bool pty = false;           // a pseudo-terminal; guarded by `io`
    std::uint32_t baudRate = kDownloadBaudRate;  // of the open line; guarded by `io`
    CUniqueFd wake;             // eventfd, signalled by ClosePort
    CLowLatencyMode lowLatency; // requested on `port`; guarded by `io`
    int wakeError = 0;

    mutable std::mutex info;    // guards the two strings below
    std::string device;
    std::string lastError;

    Impl()
    {
        wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake.Valid())
            wakeError = errno;
    }

    void SetInfo(std::string dev, std::string error)
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

    // Purges and releases the device; `io` must be held.
    void Release()
    {
        if (!port.Valid())
            return;
        // Failures here change nothing: the descriptor goes either way.
        (void)::tcflush(port.Get(), pty ? TCIFLUSH : TCIOFLUSH);
        (void)::ioctl(port.Get(), TIOCNXCL);  // else the tty stays exclusive while anyone else holds it
        lowLatency.Restore(port.Get());
        port.Reset();                          // the flock goes with the descriptor
        vanished = false;
    }

    // Bytes waiting in the input queue; nullopt when the device cannot say.
    std::optional<int> Queued()
    {
        int queued = 0;
        if (RetryOnEintr([&] { return ::ioctl(port.Get(), FIONREAD, &queued); }) < 0) {
            // A tty answers this unless it has hung up (or is hanging up).
            vanished = true;
            return std::nullopt;
        }
        return queued;
    }

    bool Open(const std::string& path, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
              std::uint8_t stopBits, std::string& error);
    std::uint32_t Drain(std::uint32_t written, SteadyClock::time_point deadline);
};

bool CCommThread::Impl::Open(const std::string& path, std::uint32_t baudRate, std::uint8_t dataBits,
                             std::uint8_t parity, std::uint8_t stopBits, std::string& error)
{
    if (!wake.Valid()) {
        error = DeviceError(path, std::string("cannot create a wake-up descriptor: ") + std::strerror(wakeError));
        return false;
    }
    std::string why;
    const auto request = MakeLineRequest(baudRate, dataBits, parity, stopBits, why);
    if (!request) {
        error = DeviceError(path, why);
        return false;
    }
    DrainWake();  // a wake-up meant for the previous opening

    CUniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd.Valid()) {
        error = DeviceError(path, ErrorText(errno));
        return false;
    }
    termios reported{};
    if (::tcgetattr(fd.Get(), &reported) != 0) {
        error = DeviceError(path, errno == ENOTTY || errno == EINVAL ? ErrorText(ENOTTY) : ErrorText(errno));
        return false;
    }
    // The advisory lock shuts out this program and others that honour it
    // (root ignores TIOCEXCL); TIOCEXCL also keeps out those that do not.
    if (RetryOnEintr([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        error = DeviceError(path, ErrorText(errno == EWOULDBLOCK ? EBUSY : errno));
        return false;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        error = DeviceError(path, std::string("cannot take the device exclusively: ") + std::strerror(errno));
        return false;
    }
    const auto dropExclusive = [&] { (void)::ioctl(fd.Get(), TIOCNXCL); };  // the descriptor closes next
    const bool pty = IsPseudoTerminal(fd.Get());

    // Output that an XOFF of an earlier session still holds resumes only when
    // IXON goes off: apply the line without it first, then with it.
    const termios wanted = DownloadSettings(reported, *request);
    const termios unheld = [&] {
        termios t = wanted;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON);
        return t;
    }();
    int applyError = 0;
    for (const termios* settings : {&unheld, &wanted}) {
        if (RetryOnEintr([&] { return ::tcsetattr(fd.Get(), TCSANOW, settings); }) != 0 && applyError == 0)
            applyError = errno;
    }
    // glibc reports EINVAL when the driver kept only part of the settings;
    // reading them back tells which part.
    termios applied{};
    if (::tcgetattr(fd.Get(), &applied) != 0) {
        error = DeviceError(path, std::string("cannot read back the line settings: ") + std::strerror(errno));
        dropExclusive();
        return false;
    }
    if (const auto refused = CheckSettings(wanted, applied, pty); !refused.empty()) {
        error = DeviceError(path, refused);
        dropExclusive();
        return false;
    }
    if (applyError != 0) {
        error = DeviceError(path, std::string("cannot apply the line settings: ") + std::strerror(applyError));
        dropExclusive();
        return false;
    }
    // Nothing stale either way. A pty has no output queue of its own: flushing
    // output would reach into the other side's input, so only input goes.
    if (::tcflush(fd.Get(), pty ? TCIFLUSH : TCIOFLUSH) != 0) {
        error = DeviceError(path, std::string("cannot purge the queues: ") + std::strerror(errno));
        dropExclusive();
        return false;
    }
    // Linux sizes the tty queues itself (4096 bytes of input per tty) and
    // sends XOFF at its own fill thresholds; there is no call to request the
    // 4096-byte queues or the 100-byte XON/XOFF limits, and with one-byte
    // replies neither limit is ever approached.
    port = std::move(fd);
    lowLatency.Request(port.Get());
    vanished = false;
    this->pty = pty;
    this->baudRate = baudRate;
    return true;
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
                vanished = true;
            return written;  // nothing more can be learned
        }
        const auto left = static_cast<std::uint32_t>(std::clamp<int>(pending, 0, static_cast<int>(written)));
        if (left == 0)
            return written;
        if (SteadyClock::now() >= deadline) {
            // The write ends here, as a timed-out write does: what has not left
            // is dropped (a failure leaves it to the close's purge).
            (void)::tcflush(port.Get(), TCOFLUSH);
            return written - left;
        }
        // Sleep about as long as the queued bytes need at the line's speed.
        const auto lineTime = nanoseconds(std::uint64_t{left} * kBitsPerByte8N1 * 1'000'000'000ULL / baudRate);
        const auto step = std::min<SteadyClock::time_point>(
            deadline, SteadyClock::now() + std::max<nanoseconds>(lineTime, milliseconds(1)));
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
    if (!device) {
        m_impl->SetInfo({}, "COM" + std::to_string(port) + ": no such port (COM1 to COM50)");
        return false;
    }
    const std::lock_guard lock(m_impl->io);
    m_impl->Release();  // callers close first; a port left open is not leaked
    std::string error;
    const bool ok = m_impl->Open(*device, baudRate, dataBits, parity, stopBits, error);
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
    std::string error;
    const bool ok = m_impl->Open(device, baudRate, dataBits, parity, stopBits, error);
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
    if (!m_bConnected || !m_impl->port.Valid() || m_impl->vanished)
        return 0;
    const auto queued = m_impl->Queued();
    if (!queued || *queued <= 0)
        return 0;
    const ssize_t got = RetryOnEintr([&] { return ::read(m_impl->port.Get(), buffer, count); });
    if (got < 0) {
        if (IsVanishedError(errno))
            m_impl->vanished = true;
        return 0;
    }
    return static_cast<std::uint32_t>(got);
}

std::uint32_t CCommThread::WriteComm(const std::uint8_t* buffer, std::uint32_t count)
{
    using namespace std::chrono;
    if (buffer == nullptr || count == 0 || !m_bConnected)
        return 0;
    const std::lock_guard lock(m_impl->io);
    if (!m_bConnected || !m_impl->port.Valid() || m_impl->vanished)
        return 0;
    const auto deadline =
        SteadyClock::now() + milliseconds(std::uint64_t{count} * kWriteTimeoutPerByteMs + kWriteTimeoutConstantMs);
    const int fd = m_impl->port.Get();
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t n = RetryOnEintr([&] { return ::write(fd, buffer + written, count - written); });
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            if (IsVanishedError(errno))
                m_impl->vanished = true;
            return written;
        }
        const auto result = WaitOn(fd, POLLOUT, m_impl->wake.Get(), deadline);
        if (result == WaitResult::Ready)
            continue;
        if (result == WaitResult::HungUp) {
            m_impl->vanished = true;
            return written;
        }
        // Timed out (held by XOFF) or woken by ClosePort: count what left.
        return m_impl->Drain(written, SteadyClock::now());
    }
    return m_impl->Drain(written, deadline);
}

bool CCommThread::WaitForInput(std::chrono::milliseconds timeout)
{
    if (!m_bConnected)
        return true;
    const auto deadline = SteadyClock::now() + timeout;
    const std::lock_guard lock(m_impl->io);
    if (!m_bConnected || !m_impl->port.Valid())
        return true;
    const int wakeFd = m_impl->wake.Get();
    while (!m_impl->vanished) {
        const auto queued = m_impl->Queued();
        if (!queued)
            break;
        if (*queued > 0)
            return true;
        switch (WaitOn(m_impl->port.Get(), POLLIN, wakeFd, deadline)) {
        case WaitResult::Ready:
            continue;  // FIONREAD confirms before reporting
        case WaitResult::Woken:
            return true;
        case WaitResult::TimedOut:
            return false;
        case WaitResult::HungUp:
            if (const auto left = m_impl->Queued(); left && *left > 0)
                return true;  // let the reader take what arrived before the hang-up
            m_impl->vanished = true;
            break;
        }
    }
    // A vanished device answers every poll at once; wait for the close or the
    // caller's time instead of spinning on it.
    return WaitOn(-1, 0, wakeFd, deadline) == WaitResult::Woken;
}

std::string CCommThread::LastOpenError() const
{
    const std::lock_guard lock(m_impl->info);
    return m_impl->lastError;
}

std::string CCommThread::DevicePath() const
{
    const std::lock_guard lock(m_impl->info);
    return m_impl->device;
}

AdapterInfo CCommThread::Adapter() const
{
    return m_impl->lowLatency.Info();
}

}  // namespace veltrad
