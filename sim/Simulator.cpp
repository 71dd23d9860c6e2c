#include "sim/Simulator.h"
#include "sim/SimulatorImpl.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace veltrad::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;

// A paced reply is due at an exact instant, and a timer wakes tens to
// hundreds of microseconds late; the last stretch before it is spent reading
// the clock instead. Burning a core that briefly is fine for a test tool.
constexpr std::chrono::microseconds kSpinBeforeReply{200};

timespec ToTimespec(Clock::time_point at)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return ts;
}

}  // namespace

bool CSimulator::Impl::TakeRequests(Clock::time_point now)
{
    const std::lock_guard lock(mtx);
    if (stopRequested)
        return false;
    for (auto& request : requests) {
        if (request.hold)
            model.HoldLine(now, *request.hold);
        else
            model.SendRaw(now, std::move(request.raw));
    }
    requests.clear();
    return true;
}

// Writes what is due (everything when `all`); false when the line blocked.
bool CSimulator::Impl::Flush(Clock::time_point now, bool all)
{
    while (model.HasOutput() && (all || model.NextDue() <= now)) {
        if (lineDead) {
            Change([](CTerminalModel& m) { m.DropNext(); });
            continue;
        }
        bool complete = false;
        {
            // Counted under the lock that covers the write, so whoever has
            // read the reply already finds it counted.
            const std::lock_guard lock(mtx);
            const auto& bytes = model.NextBytes();
            const auto written = Clock::now();
            const ssize_t n = RetryOnEintr([&] { return ::write(line.Get(), bytes.data(), bytes.size()); });
            if (n < 0) {
                if (errno == EAGAIN)
                    return false;
                lineDead = true;  // the device went away; nothing more can be sent
                continue;
            }
            complete = model.Written(static_cast<std::size_t>(n), written);
        }
        changed.notify_all();
        if (!complete)
            return false;
    }
    return true;
}

// Arms the wake-up timer at an absolute time, or disarms it.
bool CSimulator::Impl::ArmTimer(std::optional<Clock::time_point> at)
{
    itimerspec due{};
    if (at) {
        due.it_value = ToTimespec(*at);
        if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0)
            due.it_value.tv_nsec = 1;  // all zeros would disarm it
    }
    return ::timerfd_settime(timer.Get(), TFD_TIMER_ABSTIME, &due, nullptr) == 0;
}

void CSimulator::Impl::Run()
{
    Change([](CTerminalModel& m) { m.Start(Clock::now()); });
    std::array<std::uint8_t, kReadChunk> buffer{};
    bool blocked = false;
    for (;;) {
        auto now = Clock::now();
        if (!TakeRequests(now))
            break;
        blocked = !Flush(now, false);
        bool expired = false;
        Change([&](CTerminalModel& m) { expired = m.ExpirePartial(now); });
        if (expired)
            continue;

        // Sleep until a reply is due, a partial frame expires, a byte or a request arrives.
        std::optional<Clock::time_point> until;
        if (model.HasOutput() && !blocked) {
            until = model.NextDue();
            if (pace) {
                if (*until - now <= kSpinBeforeReply) {
                    while (Clock::now() < *until) {
                    }
                    continue;
                }
                *until -= kSpinBeforeReply;
            }
        }
        if (const auto expiry = model.PartialExpiry())
            until = until ? std::min(*until, *expiry) : *expiry;
        if (!ArmTimer(until))
            break;
        pollfd fds[3] = {{wake.Get(), POLLIN, 0}, {timer.Get(), POLLIN, 0}, {line.Get(), 0, 0}};
        if (!lineDead)
            fds[2].events = static_cast<short>(POLLIN | (blocked ? POLLOUT : 0));
        const int rc = ::ppoll(fds, lineDead ? 2 : 3, nullptr, nullptr);
        if (rc < 0 && errno != EINTR)
            break;
        if (rc <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)RetryOnEintr([&] { return ::read(wake.Get(), &count, sizeof count); });
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t expirations = 0;
            (void)RetryOnEintr([&] { return ::read(timer.Get(), &expirations, sizeof expirations); });
        }
        if (fds[2].revents & POLLIN) {
            const ssize_t n = RetryOnEintr([&] { return ::read(line.Get(), buffer.data(), buffer.size()); });
            if (n > 0) {
                const auto at = Clock::now();
                Change([&](CTerminalModel& m) { m.Feed(buffer.data(), static_cast<std::size_t>(n), at); });
                if (model.Ended())
                    break;
            } else if (n < 0 && errno != EAGAIN) {
                lineDead = true;
            }
        } else if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            lineDead = true;  // without a peer the line only reports hang-ups: stop polling it
        }
    }
    End();
}

// Leaves the line as it found it: whatever is still due goes out now, so a
// held line is always released.
void CSimulator::Impl::End()
{
    for (int tries = 0; model.HasOutput() && !lineDead && tries < 100; ++tries) {
        if (!Flush(Clock::now(), true)) {
            pollfd out{line.Get(), POLLOUT, 0};
            if (::poll(&out, 1, 10) <= 0)
                break;
        }
    }
    {
        const std::lock_guard lock(mtx);
        finished = true;
    }
    changed.notify_all();
}

CSimulator::CSimulator(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CSimulator::~CSimulator() { Stop(); }

const std::string& CSimulator::DevicePath() const { return m_impl->devicePath; }

bool CSimulator::Start()
{
    const std::lock_guard lock(m_impl->control);
    if (m_impl->thread.joinable())
        return false;
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->Run(); });
    return true;
}

void CSimulator::Stop()
{
    const std::lock_guard lock(m_impl->control);
    {
        const std::lock_guard state(m_impl->mtx);
        m_impl->stopRequested = true;
    }
    m_impl->changed.notify_all();
    m_impl->Signal();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

bool CSimulator::WaitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_impl->mtx);
    m_impl->changed.wait_for(lock, timeout,
                             [&] { return m_impl->model.Ended() || m_impl->stopRequested || m_impl->finished; });
    return m_impl->model.Ended();
}

bool CSimulator::WaitFor(const std::function<bool(const SimCounters&)>& predicate, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_impl->mtx);
    return m_impl->changed.wait_for(lock, timeout, [&] { return predicate(m_impl->model.Recording().counters); });
}

bool CSimulator::WaitForFramesReceived(std::size_t count, std::chrono::milliseconds timeout)
{
    return WaitFor([count](const SimCounters& c) { return c.framesReceived >= count; }, timeout);
}

bool CSimulator::WaitForFramesAccepted(std::size_t count, std::chrono::milliseconds timeout)
{
    return WaitFor([count](const SimCounters& c) { return c.framesAccepted >= count; }, timeout);
}

void CSimulator::HoldLine(std::chrono::milliseconds hold)
{
    {
        const std::lock_guard lock(m_impl->mtx);
        m_impl->requests.push_back(Request{{}, hold});
    }
    m_impl->Signal();
}

void CSimulator::SendRaw(std::vector<std::uint8_t> bytes)
{
    {
        const std::lock_guard lock(m_impl->mtx);
        m_impl->requests.push_back(Request{std::move(bytes), std::nullopt});
    }
    m_impl->Signal();
}

SimCounters CSimulator::Counters() const
{
    const std::lock_guard lock(m_impl->mtx);
    return m_impl->model.Recording().counters;
}

std::vector<FrameRecord> CSimulator::Frames() const
{
    const std::lock_guard lock(m_impl->mtx);
    return m_impl->model.Recording().frames;
}

ReceivedImage CSimulator::Image() const
{
    const std::lock_guard lock(m_impl->mtx);
    return m_impl->model.Recording().Image();
}

std::string CSimulator::Summary() const
{
    const std::lock_guard lock(m_impl->mtx);
    return m_impl->model.Recording().Summary();
}

bool CSimulator::WriteImage(const std::string& file, std::string& error) const
{
    return WriteImageFile(Image(), file, error);
}

}  // namespace veltrad::sim
