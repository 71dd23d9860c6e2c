#include "sim/Simulator.h"

#include "image/Packet.h"
#include "serial/PosixIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace veltrad::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;

// A paced reply is due at an exact instant, and a timer wakes tens to
// hundreds of microseconds late; the last stretch before it is spent reading
// the clock instead. Burning a core that briefly is fine for a test tool.
constexpr std::chrono::microseconds kSpinBeforeReply{200};

const auto kByteTime = std::chrono::duration_cast<Clock::duration>(kByteTimeOnLine);

timespec ToTimespec(Clock::time_point at)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return ts;
}

// Replies a garbage-answering terminal cycles through: anything but ACK.
constexpr std::array<std::uint8_t, 6> kGarbage = {0x00, 0x15, 0xFF, 0x41, 0x05, 0x07};

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Raw 8-bit line without flow control of its own: frames may carry 0x11 and
// 0x13, and the simulator sends XON/XOFF itself when asked to hold the line.
// No hardware handshake either, whatever another program left on the device;
// HUPCL stays as found.
bool MakeRaw(int fd, std::string& error)
{
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
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
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

// Bytes waiting to be written to the line at a given time.
struct Output {
    std::vector<std::uint8_t> bytes;
    std::optional<std::size_t> record;  // frame record this reply answers
};

}  // namespace

struct CSimulator::Impl {
    SimOptions options;
    std::string devicePath;
    CUniqueFd line;       // pty master or the device
    CUniqueFd slaveHold;  // keeps the pty alive between the client's openings
    CUniqueFd wake;       // eventfd: commands and stop
    CUniqueFd timer;      // timerfd on CLOCK_MONOTONIC (the steady clock), armed at absolute times

    std::mutex control;   // Start/Stop
    std::thread thread;

    // Shared with other threads, guarded by `mtx`.
    mutable std::mutex mtx;
    std::condition_variable changed;
    SimCounters counters;
    std::vector<FrameRecord> records;
    std::map<std::uint32_t, std::array<std::uint8_t, kBlockSize>> blocks;
    bool stopRequested = false;
    bool finished = false;  // the thread has left its loop
    std::deque<Request> requests;  // in the order they were made

    // The simulator thread's own state.
    std::vector<std::uint8_t> partial;
    Clock::time_point partialFirst{};
    Clock::time_point partialLast{};
    // With pacing, when the last byte from the sender has fully arrived on
    // the emulated line; a byte arrives no sooner than one byte time after
    // the one before it.
    Clock::time_point lineArrival{};
    std::optional<std::uint32_t> lastAccepted;
    int refusedSoFar = 0;
    int eotRun = 0;
    std::size_t garbageNext = 0;
    bool xoffDone = false;
    Clock::time_point tickOrigin{};  // the adapter timer's first tick
    std::multimap<Clock::time_point, Output> outbox;  // equal times keep their order
    bool lineDead = false;

    void Signal()
    {
        const std::uint64_t one = 1;
        (void)RetryOnEintr([&] { return ::write(wake.Get(), &one, sizeof one); });
    }

    void Run();
    bool TakeRequests(Clock::time_point now);
    void ScheduleHold(Clock::time_point at, std::chrono::milliseconds hold, std::vector<std::uint8_t>* prefixOf);
    void Feed(const std::uint8_t* data, std::size_t n, Clock::time_point now);
    void FrameComplete(Clock::time_point now);
    void CutShort(Clock::time_point now);
    void Reply(std::size_t record, std::vector<std::uint8_t> bytes, Clock::time_point now, bool holdBeforeNext);
    bool ArmTimer(std::optional<Clock::time_point> at);
    bool MakeWakeUps(std::string& error);
    bool Flush(Clock::time_point now, bool all);
    void End();
};

void CSimulator::Impl::ScheduleHold(Clock::time_point at, std::chrono::milliseconds hold,
                                    std::vector<std::uint8_t>* prefixOf)
{
    if (prefixOf)
        prefixOf->insert(prefixOf->begin(), kXoffChar);
    else
        outbox.emplace(at, Output{{kXoffChar}, std::nullopt});
    outbox.emplace(at + hold, Output{{kXonChar}, std::nullopt});
}

// Takes what other threads asked for; false when asked to stop.
bool CSimulator::Impl::TakeRequests(Clock::time_point now)
{
    std::deque<Request> taken;
    {
        const std::lock_guard lock(mtx);
        if (stopRequested)
            return false;
        taken.swap(requests);
    }
    for (auto& request : taken) {
        if (request.hold)
            ScheduleHold(now, *request.hold, nullptr);
        else
            outbox.emplace(now, Output{std::move(request.raw), std::nullopt});
    }
    return true;
}

void CSimulator::Impl::Feed(const std::uint8_t* data, std::size_t n, Clock::time_point now)
{
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        if (partial.empty()) {
            if (b == kEot) {
                ++eotRun;
                bool ended = false;
                {
                    const std::lock_guard lock(mtx);
                    ++counters.eots;
                    if (eotRun >= kEotCount)
                        counters.ended = ended = true;
                }
                changed.notify_all();
                if (ended)
                    return;  // bytes after the closing sequence belong to no run
                continue;
            }
            eotRun = 0;
            partialFirst = now;
        }
        partial.push_back(b);
        partialLast = now;
        // The line starts carrying a byte when it was written (taken as when
        // it was read) or when the byte before it has arrived, whichever is later.
        lineArrival = options.pace ? std::max(now, lineArrival) + kByteTime : now;
        if (partial.size() == kFrameSize)
            FrameComplete(now);
    }
}

void CSimulator::Impl::FrameComplete(Clock::time_point now)
{
    std::array<std::uint8_t, kFrameSize> frame{};
    std::copy(partial.begin(), partial.end(), frame.begin());
    partial.clear();

    const std::uint32_t address = FrameAddress(frame);
    const bool framed = frame[0] == kStx && frame[kFrameEtxOffset] == kEtx &&
                        frame[kFrameChecksumOffset] == FrameChecksum(frame) && address % kBlockSize == 0;
    const bool duplicate = framed && lastAccepted && address == *lastAccepted;
    const bool next = framed && (!lastAccepted || address == *lastAccepted + kBlockSize);
    const bool good = duplicate || next;

    std::size_t accepted = 0;
    std::size_t record = 0;
    {
        const std::lock_guard lock(mtx);
        accepted = counters.framesAccepted;
        FrameRecord rec;
        rec.address = address;
        rec.good = good;
        rec.firstByte = partialFirst;
        rec.complete = lineArrival;
        records.push_back(std::move(rec));
        record = records.size() - 1;
        ++counters.framesReceived;
        if (!good)
            ++counters.badFrames;
    }
    changed.notify_all();

    // A resend of the frame last accepted (its ACK got lost) keeps that index.
    const std::size_t index = duplicate ? accepted - 1 : accepted;
    const auto& o = options;
    if (o.silentAfter && index > *o.silentAfter)
        return;  // silent: no reply, nothing taken
    if (o.garbage) {
        Reply(record, {kGarbage[garbageNext++ % kGarbage.size()]}, now, false);
        return;
    }
    if (!good) {
        Reply(record, {kNak}, now, false);
        return;
    }
    if (!duplicate && o.refuseFrame && index == *o.refuseFrame && refusedSoFar < o.refuseTimes) {
        ++refusedSoFar;
        Reply(record, {kNak}, now, false);
        return;
    }
    std::size_t acceptedNow = accepted;
    if (!duplicate) {
        std::array<std::uint8_t, kBlockSize> block{};
        std::copy_n(frame.begin() + kFrameDataOffset, kBlockSize, block.begin());
        lastAccepted = address;
        {
            const std::lock_guard lock(mtx);
            blocks[address] = block;
            records[record].accepted = true;
            acceptedNow = ++counters.framesAccepted;
        }
        changed.notify_all();
    }
    std::vector<std::uint8_t> reply{kAck};
    if (!duplicate && o.doubleAckFrame && index == *o.doubleAckFrame)
        reply.push_back(kAck);
    const bool hold = !duplicate && !xoffDone && o.xoffBeforeFrame && *o.xoffBeforeFrame == acceptedNow;
    Reply(record, std::move(reply), now, hold);
}

// A frame that stopped arriving: the sender's write was cut short.
void CSimulator::Impl::CutShort(Clock::time_point now)
{
    std::size_t record = 0;
    std::size_t accepted = 0;
    {
        const std::lock_guard lock(mtx);
        FrameRecord rec;
        if (partial.size() > kFrameAddressOffset + 3) {
            std::array<std::uint8_t, kFrameSize> frame{};
            std::copy(partial.begin(), partial.end(), frame.begin());
            rec.address = FrameAddress(frame);
        }
        rec.firstByte = partialFirst;
        rec.complete = lineArrival;
        records.push_back(std::move(rec));
        record = records.size() - 1;
        ++counters.framesReceived;
        ++counters.badFrames;
        accepted = counters.framesAccepted;
    }
    changed.notify_all();
    partial.clear();
    if (options.silentAfter && accepted > *options.silentAfter)
        return;
    const std::uint8_t answer = options.garbage ? kGarbage[garbageNext++ % kGarbage.size()] : kNak;
    Reply(record, {answer}, now, false);
}

void CSimulator::Impl::Reply(std::size_t record, std::vector<std::uint8_t> bytes, Clock::time_point now,
                             bool holdBeforeNext)
{
    auto due = now;
    if (options.pace) {
        // The reply starts once the frame's last byte has arrived and reaches
        // the sender one byte time later. The deadline follows from the
        // line's own arrival times, not from when this thread got round to
        // the frame, so a late wake-up does not add up frame after frame.
        due = std::max(due, lineArrival + kByteTime);
    }
    due += options.replyDelay;
    if (options.adapterTick > Clock::duration::zero()) {
        const auto tick = std::chrono::duration_cast<Clock::duration>(options.adapterTick);
        due = tickOrigin + (due - tickOrigin + tick - Clock::duration(1)) / tick * tick;
    }
    if (holdBeforeNext) {
        xoffDone = true;
        ScheduleHold(due, options.xoffHold, &bytes);  // XOFF goes first, so the sender stops before its next write
    }
    outbox.emplace(due, Output{std::move(bytes), record});
}

// Writes what is due (everything when `all`); false when the line blocked.
bool CSimulator::Impl::Flush(Clock::time_point now, bool all)
{
    while (!outbox.empty() && (all || outbox.begin()->first <= now)) {
        auto& out = outbox.begin()->second;
        if (lineDead) {
            outbox.erase(outbox.begin());
            continue;
        }
        {
            // Counted under the lock that covers the write, so whoever has
            // read the reply already finds it counted.
            const std::lock_guard lock(mtx);
            const auto written = Clock::now();
            const ssize_t n = RetryOnEintr([&] { return ::write(line.Get(), out.bytes.data(), out.bytes.size()); });
            if (n < 0) {
                if (errno == EAGAIN)
                    return false;
                lineDead = true;  // the device went away; nothing more can be sent
                continue;
            }
            for (auto it = out.bytes.begin(); it != out.bytes.begin() + n; ++it) {
                if (out.record && *it != kXonChar && *it != kXoffChar) {
                    records[*out.record].reply.push_back(*it);
                    if (*it == kAck)
                        ++counters.acksSent;
                    else
                        ++counters.refusals;
                }
            }
            out.bytes.erase(out.bytes.begin(), out.bytes.begin() + n);
            if (out.record && out.bytes.empty())
                records[*out.record].replied = written;
        }
        changed.notify_all();
        if (!out.bytes.empty())
            return false;
        outbox.erase(outbox.begin());
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
    tickOrigin = Clock::now();
    if (options.xoffBeforeFrame && *options.xoffBeforeFrame == 0) {
        xoffDone = true;
        ScheduleHold(Clock::now(), options.xoffHold, nullptr);
    }
    std::array<std::uint8_t, kReadChunk> buffer{};
    bool blocked = false;
    for (;;) {
        auto now = Clock::now();
        if (!TakeRequests(now))
            break;
        blocked = !Flush(now, false);
        if (!partial.empty() && now - partialLast >= options.partialFrameTimeout) {
            CutShort(now);
            continue;
        }

        // Sleep until a reply is due, a partial frame expires, a byte or a request arrives.
        std::optional<Clock::time_point> until;
        if (!outbox.empty() && !blocked) {
            until = outbox.begin()->first;
            if (options.pace) {
                if (*until - now <= kSpinBeforeReply) {
                    while (Clock::now() < *until) {
                    }
                    continue;
                }
                *until -= kSpinBeforeReply;
            }
        }
        if (!partial.empty()) {
            const auto expiry = partialLast + options.partialFrameTimeout;
            until = until ? std::min(*until, expiry) : expiry;
        }
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
                Feed(buffer.data(), static_cast<std::size_t>(n), Clock::now());
                bool ended = false;
                {
                    const std::lock_guard lock(mtx);
                    ended = counters.ended;
                }
                if (ended)
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
    for (int tries = 0; !outbox.empty() && !lineDead && tries < 100; ++tries) {
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

CSimulator::~CSimulator()
{
    Stop();
}

std::unique_ptr<CSimulator> CSimulator::CreateOnPty(const SimOptions& options, std::string& error)
{
    auto impl = std::make_unique<Impl>();
    impl->options = options;
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
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->devicePath = device;
    impl->line.Reset(
        RetryOnEintr([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
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

const std::string& CSimulator::DevicePath() const
{
    return m_impl->devicePath;
}

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
    m_impl->changed.wait_for(lock, timeout, [&] {
        return m_impl->counters.ended || m_impl->stopRequested || m_impl->finished;
    });
    return m_impl->counters.ended;
}

bool CSimulator::WaitFor(const std::function<bool(const SimCounters&)>& predicate, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_impl->mtx);
    return m_impl->changed.wait_for(lock, timeout, [&] { return predicate(m_impl->counters); });
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
    return m_impl->counters;
}

std::vector<FrameRecord> CSimulator::Frames() const
{
    const std::lock_guard lock(m_impl->mtx);
    return m_impl->records;
}

ReceivedImage CSimulator::Image() const
{
    const std::lock_guard lock(m_impl->mtx);
    ReceivedImage image;
    const auto& blocks = m_impl->blocks;
    if (blocks.empty())
        return image;
    image.baseAddress = blocks.begin()->first;
    const std::uint64_t end = std::uint64_t{blocks.rbegin()->first} + kBlockSize;
    image.bytes.assign(static_cast<std::size_t>(end - image.baseAddress), 0);
    for (const auto& [address, block] : blocks)
        std::copy(block.begin(), block.end(), image.bytes.begin() + (address - image.baseAddress));
    return image;
}

std::string CSimulator::Summary() const
{
    const auto counters = Counters();
    const auto image = Image();
    std::array<char, 160> line{};
    std::snprintf(line.data(), line.size(), "frames %zu, refusals %zu, bytes %zu, base 0x%08X", counters.framesAccepted,
                  counters.refusals, image.bytes.size(), static_cast<unsigned>(image.baseAddress));
    return line.data();
}

bool CSimulator::WriteImage(const std::string& file, std::string& error) const
{
    const auto image = Image();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = Errno(file.c_str());
        return false;
    }
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) {
        error = file + ": write failed";
        return false;
    }
    return true;
}

}  // namespace veltrad::sim
