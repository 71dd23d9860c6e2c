// The serial port object on Windows: overlapped I/O on a COM device opened
// exclusively, with the download line settings applied read-modify-write.
//
// Principles of operation
// - Closing from another thread: ClosePort drops the open flag and purges
//   under m_stateMutex, the same lock under which a transfer starts its I/O,
//   so every transfer either sees the flag down and touches nothing, or had
//   started before the purge and is ended by it (or by CancelIoEx, for a
//   driver that ignores the purge). ClosePort then takes m_ioMutex, which the
//   transfer calls hold for their whole length, so the handles are released
//   only after the last one has returned.
// - A close purges output only when it aborts a pending write (the stop
//   button). After a finished write it lets the driver send what it still
//   holds, within the line time of those bytes: with USB adapters a write
//   completes once the bytes reach the adapter, and a purge may reach the chip
//   and drop the run's closing bytes.
// - Waits are on the driver's events, never on a timer, so a frame cycle
//   gains no tick of the system clock.
// - A driver that refuses XON/XOFF, or reads it back off, gets the line
//   without it, and the port object honours the terminal's XOFF itself
//   (OwnFlow_win32.cpp).
// - The error codes of MeansDeviceGone, or a transfer aborted without a
//   close, mean the device went away: DeviceGone() says so until the next
//   open or close, and every call returns at once.

#include "serial/CommThreadImpl_win32.h"

#include "serial/DeviceRegistry_win32.h"
#include "image/Wire.h"

#include <algorithm>

namespace veltrad {

namespace {

constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kReadTimeoutPerByteMs = 1;
constexpr DWORD kReadTimeoutConstantMs = 1000;
constexpr WORD kXonLimit = 100;   // bytes queued at most before the PC sends XON
constexpr WORD kXoffLimit = 100;  // bytes free at least before the PC sends XOFF
// What a close gives the driver beyond the line time of the bytes it holds.
constexpr DWORD kCloseDrainSlackMs = 50;
// Only at a close: how often it looks whether the driver has sent everything.
constexpr DWORD kCloseDrainPollMs = 1;

// GetLastError() of a failed open step to the reason an operator reads,
// mapped once here.
PortError OpenFailure(const std::string& device, const char* step, DWORD error)
{
    PortError e{device, PortErrorReason::SystemCall, static_cast<int>(error), step};
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT: e.reason = PortErrorReason::NoSuchDevice; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: e.reason = PortErrorReason::InUse; break;
    default: break;
    }
    if (e.reason != PortErrorReason::SystemCall)
        e.detail.clear();
    return e;
}

}  // namespace

void CCommThread::Impl::Release(std::atomic<bool>& connected)
{
    bool abortWrite = false;
    {
        std::lock_guard state(stateMutex);
        connected.store(false);
        abortWrite = writePending;
        if (closeEvent)
            (void)::SetEvent(closeEvent.Get());
    }
    // A failure of these changes nothing: the handles go all the same.
    if (port) {
        if (!abortWrite)
            AwaitOutputSent();
        std::lock_guard state(stateMutex);
        (void)::SetCommMask(port.Get(), 0);
        (void)::PurgeComm(port.Get(), abortWrite || OutputQueued() ? kPurgeAll : kPurgeInput);
        (void)::CancelIoEx(port.Get(), nullptr);
    }
    std::lock_guard io(ioMutex);  // the pending transfer has returned
    port.Reset();
    readEvent.Reset();
    writeEvent.Reset();
    waitEvent.Reset();
    closeEvent.Reset();
    osRead = OVERLAPPED{};
    osWrite = OVERLAPPED{};
    osWait = OVERLAPPED{};
    writePending = false;
    gone = false;
    lineEventsFailed = false;
    readAheadHeld = false;
    ownFlow = false;
    flow.Reset();
    input.clear();
}

void CCommThread::Impl::AwaitOutputSent()
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!::ClearCommError(port.Get(), &errors, &status) || status.cbOutQue == 0)
        return;
    const ULONGLONG deadline =
        ::GetTickCount64() + status.cbOutQue * kBitsPerByteOnLine * 1000 / baudRate + kCloseDrainSlackMs;
    while (::GetTickCount64() < deadline && OutputQueued())
        ::Sleep(kCloseDrainPollMs);
}

CCommThread::CCommThread(CPortMap ports) : m_ports(std::move(ports)), m_impl(std::make_unique<Impl>()) {}

CCommThread::~CCommThread() { ClosePort(); }

bool CCommThread::OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                           std::uint8_t stopBits)
{
    if (const auto device = m_ports.Device(port))
        return OpenDevice(*device, baudRate, dataBits, parity, stopBits);
    std::lock_guard life(m_impl->lifeMutex);
    m_impl->Release(m_bConnected);
    m_strPortName = "COM" + std::to_string(port);
    m_impl->device = m_strPortName;
    m_impl->lastError = PortError{m_strPortName, PortErrorReason::PortNumberOutOfRange, 0, {}};
    return false;
}

bool CCommThread::OpenDevice(const std::string& device, std::uint32_t baudRate, std::uint8_t dataBits,
                             std::uint8_t parity, std::uint8_t stopBits)
{
    Impl& d = *m_impl;
    std::lock_guard life(d.lifeMutex);
    // An object that is still open is closed first rather than leaking the
    // handles it holds.
    d.Release(m_bConnected);
    m_strPortName = device;
    d.device = device;
    d.lastError = PortError{};
    if (device.empty()) {
        d.lastError = PortError{device, PortErrorReason::NoPortGiven, 0, {}};
        return false;
    }

    const auto fail = [&](const char* step) {
        d.lastError = OpenFailure(device, step, ::GetLastError());
        d.Release(m_bConnected);
        return false;
    };

    d.readEvent = CHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!d.readEvent)
        return fail("CreateEvent");
    d.osRead = OVERLAPPED{};
    d.osRead.hEvent = d.readEvent.Get();

    d.writeEvent = CHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!d.writeEvent)
        return fail("CreateEvent");
    d.osWrite = OVERLAPPED{};
    d.osWrite.hEvent = d.writeEvent.Get();

    d.waitEvent = CHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    d.closeEvent = CHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!d.waitEvent || !d.closeEvent)
        return fail("CreateEvent");
    d.osWait = OVERLAPPED{};
    d.osWait.hEvent = d.waitEvent.Get();

    d.port = CHandle(::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!d.port)
        return fail("CreateFile");
    if (!::SetCommMask(d.port.Get(), EV_RXCHAR))
        return fail("SetCommMask");
    if (!::SetupComm(d.port.Get(), kQueueSize, kQueueSize))
        return fail("SetupComm");
    if (!::PurgeComm(d.port.Get(), kPurgeAll))
        return fail("PurgeComm");

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = kReadTimeoutPerByteMs;
    timeouts.ReadTotalTimeoutConstant = kReadTimeoutConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
    if (!::SetCommTimeouts(d.port.Get(), &timeouts))
        return fail("SetCommTimeouts");

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(d.port.Get(), &dcb))
        return fail("GetCommState");
    dcb.BaudRate = baudRate;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    const bool forceOwnFlow = m_xoffHandling == XoffHandling::Backend;
    dcb.fOutX = forceOwnFlow ? FALSE : TRUE;
    dcb.fInX = dcb.fOutX;
    dcb.XonChar = static_cast<char>(kXonChar);
    dcb.XoffChar = static_cast<char>(kXoffChar);
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    // The port opens with whatever its last user left. The line's flow
    // control is XON/XOFF only: a CTS or DSR handshake would stop every byte
    // on a three-wire cable, DSR sensitivity would drop every reply, null
    // stripping would turn a 0x00 refusal into silence, and abort-on-error
    // would fail the next write after any line error.
    dcb.fBinary = TRUE;
    dcb.fParity = parity != kNoParity;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    const bool accepted = ::SetCommState(d.port.Get(), &dcb) != 0;
    const DWORD refusal = accepted ? ERROR_SUCCESS : ::GetLastError();
    DCB readBack = dcb;
    const bool outXKept = accepted && ::GetCommState(d.port.Get(), &readBack) && readBack.fOutX;
    d.ownFlow = ChooseXoffOwner(forceOwnFlow, accepted, outXKept) == XoffOwner::PortObject;
    if (d.ownFlow && dcb.fOutX) {
        // Without XON/XOFF in the driver; a refusal of the rest is the first one's.
        dcb.fOutX = dcb.fInX = FALSE;
        if (!::SetCommState(d.port.Get(), &dcb)) {
            ::SetLastError(accepted ? ::GetLastError() : refusal);
            return fail("SetCommState");
        }
    } else if (!accepted) {
        ::SetLastError(refusal);
        return fail("SetCommState");
    }

    d.baudRate = std::max<DWORD>(baudRate, 1);
    m_bConnected.store(true);
    return true;
}

void CCommThread::ClosePort()
{
    std::lock_guard life(m_impl->lifeMutex);
    m_impl->Release(m_bConnected);
}

std::uint32_t CCommThread::ReadComm(std::uint8_t* buffer, std::uint32_t count)
{
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    if (!m_bConnected.load() || d.gone || count == 0)
        return 0;

    if (d.ownFlow) {
        d.Pump(m_bConnected, true);
        return d.TakeInput(buffer, count);
    }
    std::uint32_t taken = 0;
    if (d.readAheadHeld) {
        buffer[taken++] = d.readAhead;
        d.readAheadHeld = false;
    }
    COMSTAT status{};
    const bool known = taken < count && d.ClearErrors(&status, m_bConnected);
    if (taken == count || d.gone || (known && status.cbInQue == 0))
        return taken;  // the empty poll starts no read

    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return taken;
        // Ask for no more than is queued: with these time limits a read for
        // more would wait up to 1 ms per byte + 1000 ms for the rest, and
        // the poll must return at once. A driver whose status query fails
        // still gets a read, of one byte, which returns as that byte comes.
        const DWORD wanted = known ? std::min<DWORD>(count - taken, status.cbInQue) : 1;
        if (!::ReadFile(d.port.Get(), buffer + taken, wanted, nullptr, &d.osRead))
            error = ::GetLastError();
    }
    if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING)
        taken += d.AwaitTransfer(d.osRead, m_bConnected);
    else
        d.NoteFailure(error, m_bConnected);
    (void)d.ClearErrors(nullptr, m_bConnected);  // line errors are cleared, never reported
    return taken;
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
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    if (!m_bConnected.load() || d.gone || count == 0)
        return 0;
    // A line error left from before would otherwise fail this write.
    if (!d.ClearErrors(nullptr, m_bConnected) && d.gone)
        return 0;
    if (d.ownFlow)
        return d.WriteOwnFlow(buffer, count, m_bConnected, earlier == EarlierInput::Drop);

    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return 0;
        if (earlier == EarlierInput::Drop)
            d.DropEarlierInput();
        if (!::WriteFile(d.port.Get(), buffer, count, nullptr, &d.osWrite))
            error = ::GetLastError();
        d.writePending = error == ERROR_SUCCESS || error == ERROR_IO_PENDING;
    }
    DWORD bytes = 0;
    if (error == ERROR_IO_PENDING && earlier == EarlierInput::Drop) {
        // While the driver holds the bytes the terminal cannot have them
        // whole: what comes in meanwhile answers something earlier.
        while (::WaitForSingleObject(d.writeEvent.Get(), kHeldWritePollMs) == WAIT_TIMEOUT) {
            std::lock_guard state(d.stateMutex);
            if (m_bConnected.load())
                d.DropEarlierInput();
        }
    }
    if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING)
        bytes = d.AwaitTransfer(d.osWrite, m_bConnected);
    else
        d.NoteFailure(error, m_bConnected);
    {
        std::lock_guard state(d.stateMutex);
        d.writePending = false;
    }
    if (bytes != count)
        (void)d.ClearErrors(nullptr, m_bConnected);  // line errors are cleared, never reported
    return bytes;
}

bool CCommThread::DeviceGone() const { return m_impl->gone.load(); }

PortError CCommThread::LastPortError() const
{
    std::lock_guard life(m_impl->lifeMutex);
    return m_impl->lastError;
}

std::string CCommThread::DevicePath() const
{
    std::lock_guard life(m_impl->lifeMutex);
    return m_impl->device;
}

AdapterInfo CCommThread::Adapter() const
{
    // Nothing to request on Windows: the registry says how the adapter is set.
    return ReadAdapterInfo(DevicePath());
}

}  // namespace veltrad
