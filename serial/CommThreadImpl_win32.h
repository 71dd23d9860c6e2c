#pragma once
// The Win32 port object's state, shared by CommThread_win32.cpp (opening,
// closing, reading, writing) and PortWait_win32.cpp (waiting for input).

#include "serial/CommThread.h"
#include "serial/FlowFilter.h"

#include "platform/UniqueHandle_win32.h"
#include "platform/Windows_win32.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace veltrad {

// How often a transmission that the driver still holds drops the input
// that came in meanwhile.
inline constexpr DWORD kHeldWritePollMs = 1;

// For NoteFailure where an abort is never a removal.
inline const std::atomic<bool> kNoConnection{false};

// Whether a failed call's GetLastError() says the device went away. Drivers
// differ: usbser.sys answers ERROR_BAD_COMMAND, others ERROR_DEVICE_REMOVED,
// ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, or ERROR_ACCESS_DENIED from
// ClearCommError; Wine ERROR_NOT_READY for a hung-up tty. An abort counts
// only while the port is open: a close aborts on purpose.
inline bool MeansDeviceGone(DWORD error, bool open)
{
    switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED: return true;
    case ERROR_OPERATION_ABORTED: return open;
    default: return false;
    }
}

// Who holds output back while the terminal's XOFF is in force: the driver
// when it took fOutX and reads it back on, else the port object. SerCx and
// SerCx2 UART drivers typically do not support XON/XOFF.
enum class XoffOwner { Driver, PortObject };
inline XoffOwner ChooseXoffOwner(bool forcedToPortObject, bool stateAccepted, bool outXReadBack)
{
    return !forcedToPortObject && stateAccepted && outXReadBack ? XoffOwner::Driver : XoffOwner::PortObject;
}

struct CCommThread::Impl {
    // Serialises OpenPort, OpenDevice and ClosePort with each other.
    std::mutex lifeMutex;
    // Held by ReadComm, WriteComm and WaitForInput while they use the handles.
    std::mutex ioMutex;
    // Orders the start of a transfer against the close's flag and purge.
    std::mutex stateMutex;

    CHandle port;          // m_hComm
    CHandle readEvent;     // event of m_osRead
    CHandle writeEvent;    // event of m_osWrite
    CHandle waitEvent;     // event of the line-event wait of WaitForInput
    CHandle closeEvent;    // set by ClosePort, wakes WaitForInput
    OVERLAPPED osRead{};   // m_osRead
    OVERLAPPED osWrite{};  // m_osWrite
    OVERLAPPED osWait{};
    bool writePending = false;  // a WriteFile has not finished; guarded by stateMutex
    DWORD baudRate = kDownloadBaudRate;
    std::atomic<bool> gone{false};
    // For a driver without line events, WaitForInput waits on a one-byte read;
    // the byte it got is handed out first. Guarded by ioMutex.
    bool lineEventsFailed = false;
    bool readAheadHeld = false;
    std::uint8_t readAhead = 0;
    // The port object honours the terminal's XOFF itself (XoffOwner): the
    // flow bytes are taken out of the input, which waits in `input`, and
    // writes go out in small pieces while no XOFF holds. Guarded by ioMutex.
    bool ownFlow = false;
    CFlowFilter flow;
    std::deque<std::uint8_t> input;

    std::string device;
    PortError lastError;

    // The close: the flag falls first; the line event mask is cleared, input
    // purged, output purged only under a pending write, and all I/O of the
    // handle cancelled; once no transfer uses them, the port, the read event
    // and the write event are released in that order. Caller holds lifeMutex.
    void Release(std::atomic<bool>& connected);
    // What the driver holds after a finished write leaves within its line
    // time; only a close waits so, once, so a tick of the clock costs nothing.
    void AwaitOutputSent();

    bool OutputQueued()
    {
        COMSTAT status{};
        DWORD errors = 0;
        return ::ClearCommError(port.Get(), &errors, &status) && status.cbOutQue > 0;
    }

    // Notes a failure that says the device went away; `connected` tells an
    // abort that no close asked for from one that a close made.
    void NoteFailure(DWORD error, const std::atomic<bool>& connected)
    {
        if (MeansDeviceGone(error, connected.load()))
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

    // Input received so far came before the transmission under way (the
    // driver's own XON/XOFF: it keeps no flow byte in the queue).
    void DropEarlierInput()
    {
        readAheadHeld = false;
        (void)::PurgeComm(port.Get(), PURGE_RXCLEAR);
    }

    // Own flow (OwnFlow_win32.cpp): takes what the driver has queued through
    // the filter into `input` (when the driver cannot say what it holds, by a
    // one-byte read if `mayWait`); hands out the data; writes while no XOFF
    // holds; a transmission (`dropEarlier`) drops the data read before each
    // piece, which came before it.
    void Pump(const std::atomic<bool>& connected, bool mayWait);
    std::uint32_t TakeInput(std::uint8_t* buffer, std::uint32_t count);
    std::uint32_t WriteOwnFlow(const std::uint8_t* buffer, std::uint32_t count, const std::atomic<bool>& connected,
                               bool dropEarlier);

    enum class LineWait { TimedOut, Ended, Unsupported };
    LineWait WaitOnLineEvent(const std::atomic<bool>& connected, DWORD remaining);
    bool WaitOnReadAhead(const std::atomic<bool>& connected, DWORD remaining);
};

}  // namespace veltrad
