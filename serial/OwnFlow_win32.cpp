// XON/XOFF kept by the port object, for a driver that does not act on it: the
// terminal's flow bytes are read out of the input, and a write goes out in
// pieces small enough that an XOFF stops it within a few bytes.

#include "serial/CommThreadImpl_win32.h"

#include <algorithm>
#include <array>

namespace veltrad {

namespace {

// Bytes handed to the driver at a time, each piece waited for.
constexpr auto kOwnFlowPiece = static_cast<DWORD>(kOwnFlowWindow);
constexpr DWORD kReadChunk = 256;  // bytes taken from the driver at a time

}  // namespace

void CCommThread::Impl::Pump(const std::atomic<bool>& connected, bool mayWait)
{
    std::array<std::uint8_t, kReadChunk> chunk{};
    DWORD got = 0;
    if (readAheadHeld) {
        chunk[got++] = readAhead;
        readAheadHeld = false;
    }
    COMSTAT status{};
    const bool known = ClearErrors(&status, connected);
    if (!gone && (known ? status.cbInQue > 0 : mayWait)) {
        // As ReadComm: no more than is queued, one byte when the driver cannot say.
        const DWORD wanted = known ? std::min<DWORD>(status.cbInQue, kReadChunk - got) : 1;
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard state(stateMutex);
            if (!connected.load())
                return;
            if (!::ReadFile(port.Get(), chunk.data() + got, wanted, nullptr, &osRead))
                error = ::GetLastError();
        }
        if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING)
            got += AwaitTransfer(osRead, connected);
        else
            NoteFailure(error, connected);
    }
    const std::size_t data = flow.Filter(chunk.data(), got);
    input.insert(input.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(data));
}

std::uint32_t CCommThread::Impl::TakeInput(std::uint8_t* buffer, std::uint32_t count)
{
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, input.size()));
    std::copy_n(input.begin(), n, buffer);
    input.erase(input.begin(), input.begin() + n);
    return n;
}

std::uint32_t CCommThread::Impl::WriteOwnFlow(const std::uint8_t* buffer, std::uint32_t count,
                                              const std::atomic<bool>& connected, bool dropEarlier)
{
    // The whole write keeps the time limit of one write of `count` bytes.
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{count} * kWriteTimeoutPerByteMs + kWriteTimeoutConstantMs;
    std::uint32_t written = 0;
    while (written < count && connected.load() && !gone) {
        Pump(connected, false);
        if (flow.Held()) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline)
                break;
            // Sleeps until the terminal sends again (its XON, we hope).
            const auto remaining = static_cast<DWORD>(deadline - now);
            if (lineEventsFailed || WaitOnLineEvent(connected, remaining) == LineWait::Unsupported) {
                lineEventsFailed = true;
                (void)WaitOnReadAhead(connected, remaining);
            }
            continue;
        }
        // Read, never purged: an XON or XOFF among the bytes still counts.
        if (dropEarlier)
            input.clear();
        const DWORD piece = std::min<DWORD>(kOwnFlowPiece, count - written);
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard state(stateMutex);
            if (!connected.load())
                break;
            if (!::WriteFile(port.Get(), buffer + written, piece, nullptr, &osWrite))
                error = ::GetLastError();
            writePending = error == ERROR_SUCCESS || error == ERROR_IO_PENDING;
        }
        DWORD sent = 0;
        if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING)
            sent = AwaitTransfer(osWrite, connected);
        else
            NoteFailure(error, connected);
        {
            std::lock_guard state(stateMutex);
            writePending = false;
        }
        written += sent;
        if (sent < piece)
            break;
    }
    return written;
}

}  // namespace veltrad
