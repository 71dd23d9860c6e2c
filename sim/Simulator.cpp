#include "sim/Simulator.h"

#include "serial/CommThread.h"
#include "serial/LineSettings_posix.h"
#include "serial/NotALine_posix.h"
#include "serial/PosixIo.h"
#include "sim/TerminalModel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Raw 8-bit line at the download speed without flow control of its own:
// frames may carry XON and XOFF, and the simulator sends them itself when
// asked to hold the line. No hardware handshake either, whatever another
// program left on the device; HUPCL stays as found.
bool MakeRaw(int fd, std::string& error)
{
    PortError refused;
    const auto request = MakeLineRequest(kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit, refused);
    if (!request) {
        error = refused.detail;
        return false;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, request->speed);
    ::cfsetospeed(&t, request->speed);
    if (RetryOnEintr([&] { return ::tcsetattr(fd, TCSANOW, &t); }) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    return true;
}

// A request from another thread: raw bytes to send, or a hold of the line.
struct Request {
    std::vector<std::uint8_t> raw;
    std::optional<std::chrono::milliseconds> hold;
};

}  // namespace

// The line I/O: one thread reads the line into the model and writes the
// model's replies when they fall due, sleeping in ppoll on the line, an
// eventfd for requests and a timerfd for due times.
struct CSimulator::Impl {
    explicit Impl(const SimOptions& options) : pace(options.pace), model(options) {}

    const bool pace;  // spin through the last moments before each reply

    std::string devicePath;
    CUniqueFd line;       // pty master or the device
    CUniqueFd slaveHold;  // keeps the pty alive between the client's openings
    CUniqueFd wake;       // eventfd: commands and stop
    CUniqueFd timer;      // timerfd on CLOCK_MONOTONIC (the steady clock), armed at absolute times

    std::mutex control;  // Start/Stop
    std::thread thread;

    // Changed by the simulator thread only, and only under `mtx`; other
    // threads read it under `mtx`.
    mutable std::mutex mtx;
    std::condition_variable changed;
    CTerminalModel model;
    bool stopRequested = false;
    bool finished = false;         // the thread has left its loop
    std::deque<Request> requests;  // in the order they were made

    bool lineDead = false;  // the simulator thread's own

    void Signal()
    {
        const std::uint64_t one = 1;
        (void)RetryOnEintr([&] { return ::write(wake.Get(), &one, sizeof one); });
    }

    // Runs `change` on the model under the lock and wakes the waiters.
    template <typename F>
    void Change(F&& change)
    {
        {
            const std::lock_guard lock(mtx);
            change(model);
        }
        changed.notify_all();
    }

    void Run();
    bool TakeRequests(Clock::time_point now);
    bool ArmTimer(std::optional<Clock::time_point> at);
    bool MakeWakeUps(std::string& error);
    bool Flush(Clock::time_point now, bool all);
    void End();
};

// Takes what other threads asked for; false when asked to stop.
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

bool CSimulator::Impl::MakeWakeUps(std::string& error)
{
    wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid()) {
        error = Errno("cannot create a wake-up descriptor");
        return false;
    }
    timer.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!timer.Valid()) {
        error = Errno("cannot create a timer");
        return false;
    }
    return true;
}

CSimulator::CSimulator(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CSimulator::~CSimulator() { Stop(); }

std::unique_ptr<CSimulator> CSimulator::CreateOnPty(const SimOptions& options, std::string& error)
{
    auto impl = std::make_unique<Impl>(options);
    impl->line.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!impl->line.Valid()) {
        error = Errno("cannot create a pseudo-terminal");
        return nullptr;
    }
    if (::grantpt(impl->line.Get()) != 0 || ::unlockpt(impl->line.Get()) != 0) {
        error = Errno("cannot unlock the pseudo-terminal");
        return nullptr;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(impl->line.Get(), name.data(), name.size()) != 0) {
        error = Errno("cannot name the pseudo-terminal");
        return nullptr;
    }
    impl->devicePath = name.data();
    impl->slaveHold.Reset(
        RetryOnEintr([&] { return ::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!impl->slaveHold.Valid()) {
        error = Errno("cannot open the pseudo-terminal's device");
        return nullptr;
    }
    // Raw until the program under test sets its own line; the master side
    // of a Linux pty has no line discipline settings of its own to change.
    if (!MakeRaw(impl->slaveHold.Get(), error))
        return nullptr;
    const int flags = ::fcntl(impl->line.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(impl->line.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Errno("cannot make the pseudo-terminal non-blocking");
        return nullptr;
    }
    if (!impl->MakeWakeUps(error))
        return nullptr;
    return std::unique_ptr<CSimulator>(new CSimulator(std::move(impl)));
}

std::unique_ptr<CSimulator> CSimulator::OpenDevice(const std::string& device, const SimOptions& options,
                                                   std::string& error)
{
    // Not the terminal we run in, a console or /dev/ptmx, which would make a
    // pty that nobody can reach.
    struct stat named {};
    if (::stat(device.c_str(), &named) == 0 && S_ISCHR(named.st_mode)) {
        if (const auto reason = NotALine(named.st_rdev)) {
            error = PortError{device, *reason, 0, {}}.Message();
            return nullptr;
        }
    }
    auto impl = std::make_unique<Impl>(options);
    impl->devicePath = device;
    impl->line.Reset(RetryOnEintr([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!impl->line.Valid()) {
        error = Errno(device.c_str());
        return nullptr;
    }
    if (!MakeRaw(impl->line.Get(), error)) {
        error = device + ": " + error;
        return nullptr;
    }
    if (::tcflush(impl->line.Get(), TCIOFLUSH) != 0) {
        error = Errno(device.c_str());
        return nullptr;
    }
    if (!impl->MakeWakeUps(error))
        return nullptr;
    return std::unique_ptr<CSimulator>(new CSimulator(std::move(impl)));
}

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
