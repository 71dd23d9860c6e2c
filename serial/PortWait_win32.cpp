// Waiting for input on Windows: on the driver's line events, or on a
// one-byte read where a driver has none, never on a timer.

#include "serial/CommThreadImpl_win32.h"

#include <algorithm>

namespace veltrad {

// One wait for a received character through WaitCommEvent: it timed out (or
// the close ended it), it ended by itself, or this driver cannot wait so.
CCommThread::Impl::LineWait CCommThread::Impl::WaitOnLineEvent(const std::atomic<bool>& connected, DWORD remaining)
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
        if (!m_bConnected.load() || d.gone || (d.readAheadHeld && !d.ownFlow))
            return true;
        if (d.ownFlow) {
            // Only data counts: the terminal's XON and XOFF are no reply.
            d.Pump(m_bConnected, true);
            if (!d.input.empty())
                return true;
        } else {
            COMSTAT status{};
            if (d.ClearErrors(&status, m_bConnected) && status.cbInQue > 0)
                return true;
        }
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

}  // namespace veltrad
