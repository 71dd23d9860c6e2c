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
//   and keeps a few bytes at most in the driver while no XOFF holds
//   (XonXoff_posix.h, PortIo_posix.cpp).
// - A device that hangs up or fails as unplugged is let go at once, so that a
//   replugged adapter gets its old name back; DeviceGone() says so until the
//   next open or close.
// - A tty that another process holds exclusively (TIOCEXCL) is never taken,
//   also by root, whom the kernel lets through; every release clears the
//   exclusive mode this object set, and only that, before the descriptor
//   closes: a tty that someone else still holds would stay exclusive otherwise.
// - Ttys that are no line to a terminal (the program's own terminal, also
//   when it is only that of the standard streams, the consoles, the pty
//   multiplexer) are refused, by their device numbers before the open and
//   again on the opened descriptor (NotALine_posix.h).

#include "serial/CommThreadImpl_posix.h"

#include "serial/LowLatency_posix.h"
#include "serial/NotALine_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace veltrad {

namespace {

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

}  // namespace

void CCommThread::Impl::Drop()
{
    if (port.Valid()) {
        lowLatency.Restore(port.Get());  // while the port is still ours alone
        if (exclusive)
            (void)::ioctl(port.Get(), TIOCNXCL);  // fails only on a device that has gone
    }
    exclusive = false;
    port.Reset();  // the flock goes with the descriptor
    input.clear();
    flow.Reset();
}

void CCommThread::Impl::Vanish()
{
    vanished = true;
    Drop();
}

// Output flow control goes off first: usb-serial's flush does not reach its
// own queue, and the close would otherwise wait up to the port's closing wait
// (30 s) for output that an XOFF or a low CTS holds.
void CCommThread::Impl::Release()
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

    // Looked at before the open, which would make /dev/ptmx a new pty.
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && S_ISCHR(named.st_mode)) {
        if (const auto reason = NotALine(named.st_rdev)) {
            error = Failure(path, *reason);
            return false;
        }
    }
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
    if (const auto reason = NotALine(fd.Get(), st.st_rdev)) {
        error = Failure(path, *reason);
        return false;
    }
    // The advisory lock shuts out this program and others that honour it;
    // TIOCEXCL also keeps out those that do not.
    if (RetryOnEintr([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        error = OpenFailure(path, errno);
        return false;
    }
    // The kernel lets root open a tty that another process holds exclusively;
    // such a tty is in use all the same.
    int heldExclusively = 0;
    if (::ioctl(fd.Get(), TIOCGEXCL, &heldExclusively) == 0 && heldExclusively != 0) {
        error = Failure(path, PortErrorReason::InUse);
        return false;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        error = Failure(path, PortErrorReason::SystemCall, errno, "cannot take the device exclusively");
        return false;
    }
    port = std::move(fd);  // from here on Drop() lets go, TIOCEXCL first
    exclusive = true;
    pty = IsPseudoTerminal(port.Get());
    const bool kernelStopsOutput = xoff == XoffHandling::Auto && DriverStopsOutputOnXoff(SerialDriverName(st.st_rdev));
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
    lowLatency.Request(port.Get());
    vanished = false;
    ownFlow = !kernelStopsOutput;
    pacer.Reset(baudRate);
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

CCommThread::CCommThread(CPortMap ports) : m_ports(std::move(ports)), m_impl(std::make_unique<Impl>()) {}

CCommThread::~CCommThread() { ClosePort(); }

bool CCommThread::OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                           std::uint8_t stopBits)
{
    if (const auto device = m_ports.Device(port))
        return OpenDevice(*device, baudRate, dataBits, parity, stopBits);
    m_bConnected = false;
    m_strPortName = "COM" + std::to_string(port);
    const std::lock_guard lock(m_impl->io);
    m_impl->Release();  // callers close first; a port left open is not leaked
    m_impl->SetInfo({}, Failure(m_strPortName, PortErrorReason::PortNumberOutOfRange));
    return false;
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
    return Write(buffer, count, EarlierInput::Keep);
}

std::uint32_t CCommThread::WriteTransmission(const std::uint8_t* buffer, std::uint32_t count)
{
    return Write(buffer, count, EarlierInput::Drop);
}

std::uint32_t CCommThread::Write(const std::uint8_t* buffer, std::uint32_t count, EarlierInput earlier)
{
    using namespace std::chrono;
    if (buffer == nullptr || count == 0 || !m_bConnected)
        return 0;
    const std::lock_guard lock(m_impl->io);
    if (!m_bConnected || !m_impl->port.Valid())
        return 0;
    const auto deadline =
        SteadyClock::now() + milliseconds(std::uint64_t{count} * kWriteTimeoutPerByteMs + kWriteTimeoutConstantMs);
    m_impl->dropEarlier = earlier == EarlierInput::Drop;
    const std::uint32_t written = m_impl->ownFlow ? m_impl->WriteOwnFlow(buffer, count, deadline)
                                                  : m_impl->WriteKernelFlow(buffer, count, deadline);
    m_impl->dropEarlier = false;
    return written;
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

bool CCommThread::DeviceGone() const { return m_impl->vanished.load(); }

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

AdapterInfo CCommThread::Adapter() const { return m_impl->lowLatency.Info(); }

}  // namespace veltrad
