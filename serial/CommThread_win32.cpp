// The serial port object on Windows: overlapped I/O on a COM device opened
// exclusively, with the download line settings applied read-modify-write.
//
// Closing from another thread: ClosePort drops the open flag and purges with
// the abort flags under m_stateMutex, the same lock under which a transfer
// starts its I/O, so every transfer either sees the flag down and touches
// nothing, or had started before the purge and is ended by it. ClosePort then
// takes m_ioMutex, which the transfer calls hold for their whole length, so
// the handles are released only after the last one has returned.

#include "serial/CommThread.h"

#include "serial/DeviceRegistry_win32.h"
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

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kReadTimeoutPerByteMs = 1;
constexpr DWORD kReadTimeoutConstantMs = 1000;
constexpr WORD kXonLimit = 100;   // bytes queued at most before the PC sends XON
constexpr WORD kXoffLimit = 100;  // bytes free at least before the PC sends XOFF
// Only for a driver without line events: how often WaitForInput looks.
constexpr DWORD kFallbackPollMs = 10;
// How often a finished write looks whether the driver has sent everything.
constexpr DWORD kDrainPollMs = 1;

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

// The system's own text for an error code, without the trailing line break.
std::string SystemMessage(DWORD error)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr)
        message.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return message.empty() ? std::string(code) : message + " (" + code + ")";
}

// Why an open failed, for the operator. The two causes an operator can act on
// get plain words; everything else names the step and the system's text.
std::string DescribeOpenError(const char* step, DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
        return "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return "in use by another program";
    default:
        return std::string(step) + ": " + SystemMessage(error);
    }
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

    std::string device;
    std::string lastOpenError;

    // The close: the flag falls first; the line event mask is cleared and
    // both directions purged, which ends a transfer in progress; once no
    // transfer uses them, the port, the read event and the write event are
    // released in that order. Caller holds lifeMutex.
    void Release(std::atomic<bool>& connected)
    {
        {
            std::lock_guard state(stateMutex);
            connected.store(false);
            // A failure of these changes nothing: the handles go all the same.
            if (port) {
                (void)::SetCommMask(port.Get(), 0);
                (void)::PurgeComm(port.Get(), kPurgeAll);
            }
            if (closeEvent)
                (void)::SetEvent(closeEvent.Get());
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
    }

    // Waits for the overlapped transfer pending on `os` and gives its count;
    // an aborted or failed transfer gives what it had moved by then.
    DWORD AwaitTransfer(OVERLAPPED& os)
    {
        for (;;) {
            DWORD done = 0;
            if (::GetOverlappedResult(port.Get(), &os, &done, TRUE))
                return done;
            if (::GetLastError() != ERROR_IO_INCOMPLETE)
                return done;
        }
    }

    // Clears the port's error state; false when the status query fails.
    bool ClearErrors(COMSTAT* status)
    {
        DWORD errors = 0;
        return ::ClearCommError(port.Get(), &errors, status) != FALSE;
    }

    // A finished write may only mean that the bytes reached the driver; the
    // purge of a close straight afterwards would discard what it still holds
    // (the closing bytes of a run). So wait until its output queue is empty,
    // within the write's own time limit; a close cuts the wait short.
    void AwaitOutputSent(const std::atomic<bool>& connected, ULONGLONG deadline)
    {
        for (;;) {
            COMSTAT status{};
            if (!connected.load() || !ClearErrors(&status) || status.cbOutQue == 0)
                return;
            if (::GetTickCount64() >= deadline)
                return;
            (void)::WaitForSingleObject(closeEvent.Get(), kDrainPollMs);
        }
    }
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
        m_impl->lastOpenError = "no such port";
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
    d.lastOpenError.clear();

    const auto fail = [&](const char* step) {
        d.lastOpenError = DescribeOpenError(step, ::GetLastError());
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
    if (!::SetCommState(d.port.Get(), &dcb))
        return fail("SetCommState");

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
    if (!m_bConnected.load())
        return 0;

    COMSTAT status{};
    if (!d.ClearErrors(&status) || status.cbInQue == 0)
        return 0;  // the empty poll starts no read

    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return 0;
        // Ask for no more than is queued: with these time limits a read for
        // more would wait up to 1 ms per byte + 1000 ms for the rest, and
        // the poll must return at once.
        const DWORD wanted = std::min<DWORD>(count, status.cbInQue);
        if (::ReadFile(d.port.Get(), buffer, wanted, &bytes, &d.osRead))
            return bytes;
        error = ::GetLastError();
    }
    bytes = error == ERROR_IO_PENDING ? d.AwaitTransfer(d.osRead) : 0;
    (void)d.ClearErrors(nullptr);  // line errors are cleared, never reported
    return bytes;
}

std::uint32_t CCommThread::WriteComm(const std::uint8_t* buffer, std::uint32_t count)
{
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    if (!m_bConnected.load())
        return 0;

    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(count) * kWriteTimeoutPerByteMs +
                               kWriteTimeoutConstantMs;
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    bool done = false;
    {
        std::lock_guard state(d.stateMutex);
        if (!m_bConnected.load())
            return 0;
        done = ::WriteFile(d.port.Get(), buffer, count, &bytes, &d.osWrite) != FALSE;
        if (!done)
            error = ::GetLastError();
    }
    if (!done) {
        bytes = error == ERROR_IO_PENDING ? d.AwaitTransfer(d.osWrite) : 0;
        (void)d.ClearErrors(nullptr);  // line errors are cleared, never reported
    }
    if (bytes == count)
        d.AwaitOutputSent(m_bConnected, deadline);
    return bytes;
}

bool CCommThread::WaitForInput(std::chrono::milliseconds timeout)
{
    Impl& d = *m_impl;
    std::lock_guard io(d.ioMutex);
    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG limit = static_cast<ULONGLONG>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 0));

    for (;;) {
        if (!m_bConnected.load())
            return true;
        COMSTAT status{};
        const bool queried = d.ClearErrors(&status);
        if (queried && status.cbInQue > 0)
            return true;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= limit)
            return false;
        const DWORD remaining = static_cast<DWORD>(std::min<ULONGLONG>(limit - elapsed, INFINITE - 1));

        // Wait for the next received character, or for the close.
        DWORD mask = 0;
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard state(d.stateMutex);
            if (!m_bConnected.load())
                return true;
            (void)::ResetEvent(d.waitEvent.Get());
            if (queried && ::WaitCommEvent(d.port.Get(), &mask, &d.osWait))
                continue;  // a character came in meanwhile: count it above
            error = queried ? ::GetLastError() : ERROR_NOT_SUPPORTED;
        }
        if (error != ERROR_IO_PENDING) {
            // This driver cannot wait for line events: look again after a
            // short pause, which a close cuts short.
            (void)::WaitForSingleObject(d.closeEvent.Get(), std::min<DWORD>(remaining, kFallbackPollMs));
            continue;
        }

        const HANDLE handles[] = {d.waitEvent.Get(), d.closeEvent.Get()};
        const DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, remaining);
        if (woke != WAIT_OBJECT_0) {
            // Timeout: selecting the mask anew ends the pending wait, the
            // documented way; after a close, its own mask change has done so.
            // The cancel covers a driver that ignores either.
            std::lock_guard state(d.stateMutex);
            if (m_bConnected.load())
                (void)::SetCommMask(d.port.Get(), EV_RXCHAR);
            (void)::CancelIoEx(d.port.Get(), &d.osWait);
        }
        DWORD ignored = 0;  // the record must be finished with before it is reused or released
        (void)::GetOverlappedResult(d.port.Get(), &d.osWait, &ignored, TRUE);
    }
}

std::string CCommThread::LastOpenError() const
{
    std::lock_guard life(m_impl->lifeMutex);
    return m_impl->lastOpenError;
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
