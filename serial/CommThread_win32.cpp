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
// - ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ERROR_NOT_READY, or a transfer
//   aborted without a close, mean the device went away: DeviceGone() says so until the next open
//   or close, and every call returns at once.

#include "serial/CommThread.h"

#include "serial/PortMap.h"
#include "settings/Profile.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

namespace veltrad {

namespace {

constexpr std::uint16_t kFirstShortNamePort = 1;
constexpr std::uint16_t kFirstDeviceNamespacePort = 10;  // COM10 and up need "\\.\"
constexpr std::uint16_t kLastPortNumber = 50;

constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kReadTimeoutPerByteMs = 1;
constexpr DWORD kReadTimeoutConstantMs = 1000;
constexpr WORD kXonLimit = 100;   // bytes queued at most before the PC sends XON
constexpr WORD kXoffLimit = 100;  // bytes free at least before the PC sends XOFF
constexpr DWORD kBitsPerByte8N1 = 10;
// What a close gives the driver beyond the line time of the bytes it holds.
constexpr DWORD kCloseDrainSlackMs = 50;
// Only at a close: how often it looks whether the driver has sent everything.
constexpr DWORD kCloseDrainPollMs = 1;
// For NoteFailure where an abort is never a removal.
const std::atomic<bool> kNoConnection{false};

// Owner of one kernel handle; "none" is always nullptr, whatever the
// function that made it returns on failure.
class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~CHandle() { Reset(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }

    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset()
    {
        if (m_h != nullptr)
            ::CloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HANDLE m_h = nullptr;
};

// GetLastError() of a failed open step to the reason an operator reads,
// mapped once here.
PortError OpenFailure(const std::string& device, const char* step, DWORD error)
{
    PortError e{device, PortErrorReason::SystemCall, static_cast<int>(error), step};
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
        e.reason = PortErrorReason::NoSuchDevice;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        e.reason = PortErrorReason::InUse;
        break;
    default:
        break;
    }
    if (e.reason != PortErrorReason::SystemCall)
        e.detail.clear();
    return e;
}

}  // namespace

struct CCommThread::Impl {
    // Serialises OpenPort, OpenDevice and ClosePort with each other.
    std::mutex lifeMutex;
    // Held by ReadComm, WriteComm and WaitForInput while they use the handles.
    std::mutex ioMutex;
    // Orders the start of a transfer against the close's flag and purge.
    std::mutex stateMutex;

    CHandle port;         // m_hComm
    CHandle readEvent;    // event of m_osRead
    CHandle writeEvent;   // event of m_osWrite
    CHandle waitEvent;    // event of the line-event wait of WaitForInput
    CHandle closeEvent;   // set by ClosePort, wakes WaitForInput
    OVERLAPPED osRead{};  // m_osRead
    OVERLAPPED osWrite{}; // m_osWrite
    OVERLAPPED osWait{};
    bool writePending = false;  // a WriteFile has not finished; guarded by stateMutex
    DWORD baudRate = kDownloadBaudRate;
    std::atomic<bool> gone{false};
    // For a driver without line events, WaitForInput waits on a one-byte read;
    // the byte it got is handed out first. Guarded by ioMutex.
    bool lineEventsFailed = false;
    bool readAheadHeld = false;
    std::uint8_t readAhead = 0;

    std::string device;
    PortError lastError;

    // The close: the flag falls first; the line event mask is cleared, input
    // purged, output purged only under a pending write, and all I/O of the
    // handle cancelled; once no transfer uses them, the port, the read event
    // and the write event are released in that order. Caller holds lifeMutex.
    void Release(std::atomic<bool>& connected)
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
    }

    bool OutputQueued()
    {
        COMSTAT status{};
        DWORD errors = 0;
        return ::ClearCommError(port.Get(), &errors, &status) && status.cbOutQue > 0;
    }

    // What the driver holds after a finished write leaves within its line
    // time; only a close waits so, once, so a tick of the clock costs nothing.
    void AwaitOutputSent()
    {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(port.Get(), &errors, &status) || status.cbOutQue == 0)
            return;
        const ULONGLONG deadline = ::GetTickCount64() + status.cbOutQue * kBitsPerByte8N1 * 1000 / baudRate +
                                   kCloseDrainSlackMs;
        while (::GetTickCount64() < deadline && OutputQueued())
            ::Sleep(kCloseDrainPollMs);
    }

    // Notes a failure that says the device went away; `connected` tells an
    // abort that no close asked for from one that a close made. Wine answers
    // a status query on a hung-up tty with ERROR_NOT_READY.
    void NoteFailure(DWORD error, const std::atomic<bool>& connected)
    {
        if (error == ERROR_DEVICE_REMOVED || error == ERROR_BAD_COMMAND || error == ERROR_NOT_READY ||
            (error == ERROR_OPERATION_ABORTED && connected.load()))
            gone = true;
    }

    // Waits for the overlapped transfer on `os` and gives its count; a failed
    // transfer gives what it had moved by then and notes why it failed.
    DWORD AwaitTransfer(OVERLAPPED& os, const std::atomic<bool>& connected)
    {
        DWORD done = 0;
        if (!::GetOverlappedResult(port.Get(), &os, &done, TRUE))
            NoteFailure(::GetLastError(), connected);
        return done;
    }

    // Clears the port's error state; false when the status query fails.
    bool ClearErrors(COMSTAT* status, const std::atomic<bool>& connected)
    {
        DWORD errors = 0;
        if (::ClearCommError(port.Get(), &errors, status))
            return true;
        NoteFailure(::GetLastError(), connected);
        return false;
    }

    enum class LineWait { TimedOut, Ended, Unsupported };
    LineWait WaitOnLineEvent(const std::atomic<bool>& connected, DWORD remaining);
    bool WaitOnReadAhead(const std::atomic<bool>& connected, DWORD remaining);
};

CCommThread::CCommThread() : m_impl(std::make_unique<Impl>()) {}

CCommThread::~CCommThread()
{
    ClosePort();
}

std::string FormatPortName(std::uint16_t port)
{
    char name[16];
    if (port < kFirstDeviceNamespacePort)
        std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(port));
    else
        std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(port));
    return name;
}

bool CCommThread::OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits,
                           std::uint8_t parity, std::uint8_t stopBits)
{
    // A [Ports] entry may send a number elsewhere, as on POSIX.
    const auto mapped = ResolvePortDevice(port, CProfile::DefaultPath());
    const std::string name =
        mapped && *mapped != DefaultPortDevice(port) ? *mapped : FormatPortName(port);
    if (port < kFirstShortNamePort || port > kLastPortNumber) {
        std::lock_guard life(m_impl->lifeMutex);
        m_impl->Release(m_bConnected);
        m_strPortName = name;
        m_impl->device = name;
        m_impl->lastError = PortError{name, PortErrorReason::PortNumberOutOfRange, 0, {}};
        return false;
    }
    return OpenDevice(name, baudRate, dataBits, parity, stopBits);
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
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
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
    if (!::SetCommState(d.port.Get(), &dcb))
        return fail("SetCommState");

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

    std::uint32_t taken = 0;
    if (d.readAheadHeld) {
        buffer[taken++] = d.readAhead;
        d.readAheadHeld = false;
    }
    COMSTAT status{};
    if (taken == count || !d.ClearErrors(&status, m_bConnected) || status.cbInQue == 0)
        return taken;  // the empty poll starts no read

    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return taken;
        // Ask for no more than is queued: with these time limits a read for
        // more would wait up to 1 ms per byte + 1000 ms for the rest, and
        // the poll must return at once.
        const DWORD wanted = std::min<DWORD>(count - taken, status.cbInQue);
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
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    if (!m_bConnected.load() || d.gone || count == 0)
        return 0;
    // A line error left from before would otherwise fail this write.
    if (!d.ClearErrors(nullptr, m_bConnected) && d.gone)
        return 0;

    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return 0;
        if (!::WriteFile(d.port.Get(), buffer, count, nullptr, &d.osWrite))
            error = ::GetLastError();
        d.writePending = error == ERROR_SUCCESS || error == ERROR_IO_PENDING;
    }
    DWORD bytes = 0;
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

// One wait for a received character through WaitCommEvent: it timed out (or
// the close ended it), it ended by itself, or this driver cannot wait so.
CCommThread::Impl::LineWait CCommThread::Impl::WaitOnLineEvent(const std::atomic<bool>& connected,
                                                               DWORD remaining)
{
    DWORD mask = 0;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(stateMutex);
        if (!connected.load())
            return LineWait::TimedOut;
        (void)::ResetEvent(waitEvent.Get());
        if (!::WaitCommEvent(port.Get(), &mask, &osWait))
            error = ::GetLastError();
    }
    if (error == ERROR_SUCCESS)
        return LineWait::Ended;  // a character came in meanwhile, or an event left from a byte read since
    if (error != ERROR_IO_PENDING) {
        NoteFailure(error, kNoConnection);
        return LineWait::Unsupported;
    }
    const HANDLE handles[] = {waitEvent.Get(), closeEvent.Get()};
    const bool signalled = ::WaitForMultipleObjects(2, handles, FALSE, remaining) == WAIT_OBJECT_0;
    if (!signalled) {
        // Timeout: selecting the mask anew ends the pending wait, the
        // documented way; after a close, its own mask change has done so.
        // The cancel covers a driver that ignores either.
        std::lock_guard state(stateMutex);
        if (connected.load())
            (void)::SetCommMask(port.Get(), EV_RXCHAR);
        (void)::CancelIoEx(port.Get(), &osWait);
    }
    // The record must be finished with before it is reused or released. Only
    // a removal counts here: a mask change ends this wait as aborted, and
    // Wine ends it so now and then on its own.
    DWORD ignored = 0;
    if (!::GetOverlappedResult(port.Get(), &osWait, &ignored, TRUE) && signalled)
        NoteFailure(::GetLastError(), kNoConnection);
    return signalled ? LineWait::Ended : LineWait::TimedOut;
}

// One wait for a received byte through a one-byte read, kept for ReadComm.
// The read's own time limit (1 ms + 1000 ms) ends an empty wait; the wait
// itself sleeps on the read's event, never on a timer.
bool CCommThread::Impl::WaitOnReadAhead(const std::atomic<bool>& connected, DWORD remaining)
{
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(stateMutex);
        if (!connected.load())
            return true;
        if (!::ReadFile(port.Get(), &readAhead, 1, nullptr, &osRead))
            error = ::GetLastError();
    }
    if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING) {
        NoteFailure(error, connected);
        if (gone)
            return true;
        // Neither way to wait works: sleep out the time, a close cuts it short.
        return ::WaitForSingleObject(closeEvent.Get(), remaining) == WAIT_OBJECT_0;
    }
    const HANDLE handles[] = {readEvent.Get(), closeEvent.Get()};
    const bool signalled = ::WaitForMultipleObjects(2, handles, FALSE, remaining) == WAIT_OBJECT_0;
    if (!signalled)
        (void)::CancelIoEx(port.Get(), &osRead);
    DWORD got = 0;
    if (::GetOverlappedResult(port.Get(), &osRead, &got, TRUE))
        readAheadHeld = got == 1;
    else if (signalled)
        NoteFailure(::GetLastError(), connected);
    return true;
}

bool CCommThread::WaitForInput(std::chrono::milliseconds timeout)
{
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG limit = static_cast<ULONGLONG>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 0));
    // Waits that ended by themselves with nothing queued. The first may be
    // an event left from a byte read since; a driver that keeps ending them
    // so would make this loop a spin, so it is waited on by a read instead.
    int idleEnds = 0;
    constexpr int kIdleEndsAllowed = 1;

    for (;;) {
        if (!m_bConnected.load() || d.gone || d.readAheadHeld)
            return true;
        COMSTAT status{};
        if (d.ClearErrors(&status, m_bConnected) && status.cbInQue > 0)
            return true;
        if (d.gone)
            return true;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= limit)
            return false;
        const DWORD remaining = static_cast<DWORD>(std::min<ULONGLONG>(limit - elapsed, INFINITE - 1));
        if (!d.lineEventsFailed) {
            switch (d.WaitOnLineEvent(m_bConnected, remaining)) {
            case Impl::LineWait::TimedOut: idleEnds = 0; break;
            case Impl::LineWait::Ended: d.lineEventsFailed = ++idleEnds > kIdleEndsAllowed; break;
            case Impl::LineWait::Unsupported: d.lineEventsFailed = true; break;
            }
            continue;
        }
        if (!d.WaitOnReadAhead(m_bConnected, remaining))
            return false;
    }
}

bool CCommThread::DeviceGone() const
{
    return m_impl->gone.load();
}

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

}  // namespace veltrad
