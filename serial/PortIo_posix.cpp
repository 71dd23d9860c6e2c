// The termios port object's device I/O: reading ahead and filtering when it
// honours XOFF itself, both write paths, and the drain that ends a write.

#include "serial/CommThreadImpl_posix.h"

#include "image/Wire.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace veltrad {

namespace {

// Tops up the bytes off the line (kOwnFlowWindow at most) once they have
// fallen to this mark, so that pieces are not one byte.
constexpr std::uint32_t kOwnFlowRefill = kOwnFlowWindow / 2;
constexpr std::size_t kReadChunk = 256;  // bytes taken from the driver at a time
// How often a drain looks again at a driver whose queue figure is no byte count.
constexpr std::chrono::milliseconds kDrainPoll{1};

}  // namespace

bool IsVanishedError(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

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

std::optional<int> CCommThread::Impl::Queued()
{
    int queued = 0;
    if (RetryOnEintr([&] { return ::ioctl(port.Get(), FIONREAD, &queued); }) < 0) {
        // A tty answers this unless it has hung up (or is hanging up).
        Vanish();
        return std::nullopt;
    }
    return queued;
}

bool CCommThread::Impl::Pump()
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

std::optional<std::size_t> CCommThread::Impl::Available()
{
    if (ownFlow)
        return Pump() ? std::optional<std::size_t>(input.size()) : std::nullopt;
    const auto queued = Queued();
    return queued ? std::optional<std::size_t>(static_cast<std::size_t>(std::max(*queued, 0))) : std::nullopt;
}

std::uint32_t CCommThread::Impl::Take(std::uint8_t* buffer, std::uint32_t count)
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

// Read, never flushed: tcflush() also drops what the line discipline has not
// yet seen, and an XON among it would leave output stopped for good.
void CCommThread::Impl::DropEarlierInput()
{
    if (ownFlow) {
        if (Pump())
            input.clear();
        return;
    }
    auto queued = Queued();
    std::array<std::uint8_t, kReadChunk> sink{};
    // At most one queue's worth, so a line that never stops talking cannot hold the write.
    for (std::size_t dropped = 0; queued && *queued > 0 && dropped < kQueueSize;) {
        const auto want = std::min<std::size_t>(sink.size(), static_cast<std::size_t>(*queued));
        const ssize_t got = RetryOnEintr([&] { return ::read(port.Get(), sink.data(), want); });
        if (got <= 0) {
            if (got < 0 && IsVanishedError(errno))
                Vanish();
            return;
        }
        dropped += static_cast<std::size_t>(got);
        *queued -= static_cast<int>(got);
    }
}

CCommThread::Impl::WriteStep CCommThread::Impl::WriteSome(const std::uint8_t* bytes, std::uint32_t count,
                                                          std::uint32_t& written)
{
    // Whatever came in while this transmission waited (for room, for an XON)
    // came before these bytes.
    if (dropEarlier)
        DropEarlierInput();
    if (!port.Valid())
        return WriteStep::Failed;  // the device went while its input was read
    const ssize_t n = RetryOnEintr([&] { return ::write(port.Get(), bytes, count); });
    if (n > 0) {
        written += static_cast<std::uint32_t>(n);
        pacer.Wrote(static_cast<std::uint32_t>(n), SteadyClock::now());
        return WriteStep::Took;
    }
    if (n < 0 && errno != EAGAIN) {
        if (IsVanishedError(errno))
            Vanish();
        return WriteStep::Failed;
    }
    return WriteStep::Full;
}

std::uint32_t CCommThread::Impl::WriteKernelFlow(const std::uint8_t* buffer, std::uint32_t count,
                                                 SteadyClock::time_point deadline)
{
    std::uint32_t written = 0;
    while (written < count) {
        const WriteStep step = WriteSome(buffer + written, count - written, written);
        if (step == WriteStep::Took)
            continue;
        if (step == WriteStep::Failed)
            return written;
        switch (WaitOn(port.Get(), POLLOUT, wake.Get(), deadline)) {
        case WaitResult::Ready: continue;
        case WaitResult::HungUp: Vanish(); return written;
        case WaitResult::Woken:
        case WaitResult::TimedOut: return Drain(written, SteadyClock::now());  // held by XOFF, or a close
        }
    }
    return Drain(written, deadline);
}

// Writes while no XOFF holds, keeping at most kOwnFlowWindow bytes off the
// line, and reads ahead meanwhile so that an XOFF is seen at once.
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
            const auto now = SteadyClock::now();
            const std::uint32_t pending = pacer.Pending(queued, now);
            if (pending <= kOwnFlowRefill) {
                const auto piece = std::min(kOwnFlowWindow - pending, count - written);
                const WriteStep step = WriteSome(buffer + written, piece, written);
                if (step == WriteStep::Took)
                    continue;
                if (step == WriteStep::Failed)
                    return written;
                events |= POLLOUT;  // the driver is full: wait for room
            } else {
                until = std::min(deadline, now + pacer.LineTime(pending - kOwnFlowRefill));
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
        // nullopt: a figure that is no byte count, which says only that something is left.
        const auto bytes = pacer.DriverBytes(pending);
        if (bytes == 0u)
            return written;
        const std::uint32_t left = std::min(bytes.value_or(written), written);
        // While the kernel still holds bytes of a transmission (a UART's
        // buffer, an adapter not yet given them), the terminal cannot have it
        // whole: any byte now answers something earlier, and the wait below
        // wakes for it. Not so where this object honours XOFF: those drivers
        // count bytes the device already has (cdc_acm until its USB transfer
        // is reported done), and their pieces left only while no XOFF held.
        const bool dropNow = dropEarlier && !ownFlow;
        if (dropNow) {
            DropEarlierInput();
            if (!port.Valid())
                return written - left;
        }
        if (SteadyClock::now() >= deadline) {
            // The write ends here, as a timed-out write does: what has not left
            // is dropped (a failure leaves it to the close's purge). A pty keeps
            // no output of its own to drop (see Release).
            if (!pty)
                (void)::tcflush(port.Get(), TCOFLUSH);
            return written - left;
        }
        // Sleep about as long as the queued bytes need at the line's speed.
        const auto wait = bytes ? std::max<nanoseconds>(pacer.LineTime(left), kDrainPoll) : nanoseconds(kDrainPoll);
        const auto step = std::min<SteadyClock::time_point>(deadline, SteadyClock::now() + wait);
        switch (WaitOn(dropNow ? port.Get() : -1, POLLIN, wake.Get(), step)) {
        case WaitResult::Woken: return written - left;
        case WaitResult::HungUp:
            if (!dropNow)
                break;  // only the device is polled for hang-ups
            Vanish();
            return written - left;
        case WaitResult::Ready:
        case WaitResult::TimedOut: break;
        }
    }
}

}  // namespace veltrad
