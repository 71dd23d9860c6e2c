#pragma once
// A port and a clock under the test's full control: the terminal's replies are
// scheduled in milliseconds after each frame transmission, waiting advances a
// fake tick counter instead of the wall clock, and every call lands in one
// event log together with the run's events, so their order can be checked.

#include "download/Clock.h"
#include "download/RunObserver.h"
#include "image/Wire.h"
#include "serial/CommThread.h"
#include "serial/Port.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace veltrad::test {

class FakeClock final : public IClock {
public:
    std::uint32_t TickCount() override
    {
        ++reads;
        return now;
    }
    std::uint32_t now = 0;
    int reads = 0;
};

struct ScriptedReply {
    std::uint32_t delayMs;  // after the end of the transmission's write
    std::uint8_t byte;
};

class ScriptedPort final : public IPort {
public:
    ScriptedPort(FakeClock& clock, std::vector<std::string>& log) : m_clock(clock), m_log(log) {}

    // --- script -------------------------------------------------------
    // Replies to the n-th frame transmission (0-based, resends included).
    std::map<int, std::vector<ScriptedReply>> replies;
    std::uint32_t writeDurationMs = 0;  // time a frame write takes
    // Largest step one WaitForInput advances the clock (a wait that wakes
    // early); unlimited by default.
    std::optional<std::uint32_t> maxWaitStepMs;
    std::uint32_t lateWakeMs = 0;   // scheduler delay after a reply arrives
    std::uint32_t readStallMs = 0;  // the reader loses the processor this long before each read
    // Stop points: the front end closes the port...
    std::optional<int> closeAfterRead;           // ...right after the n-th byte read (1-based)
    std::optional<int> closeDuringTransmission;  // ...inside the n-th frame write, which then fails
    std::optional<std::uint64_t> closeAtMs;      // ...when a wait reaches this time (see Now)
    std::set<int> heldTransmissions;             // frame writes held by XOFF past their limit
    std::set<int> failedTransmissions;           // frame writes that fail at once, sending nothing
    std::optional<int> goneDuringTransmission;   // frame write held to its limit, then the device unplugged
    // XOFF holds [from, to) in the port's time: a write that starts inside
    // one leaves at its end, or is cut short with nothing sent when that is
    // past the write's limit.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> xoffHolds;
    // Bytes the terminal sends at these times, whatever was written.
    std::vector<std::pair<std::uint64_t, std::uint8_t>> strays;
    bool hasLineTime = false;               // a real line's timing; replies in whole ms by default
    std::optional<std::uint64_t> goneAtMs;  // the device is unplugged when a wait reaches this time

    // --- observations -------------------------------------------------
    std::vector<std::uint8_t> line;                       // bytes that reached the open port
    int transmissions = 0;                                // frame writes on the open port
    std::set<std::vector<std::uint8_t>> framesAttempted;  // distinct frames written, whole or held
    int bytesRead = 0;                                    // reply bytes the worker took
    int reads = 0;                                        // ReadComm calls
    int writesWhileClosed = 0;
    int closesByWorker = 0;  // ClosePort calls that found the port open
    bool connected = true;

    bool IsConnected() const override { return connected; }
    bool DeviceGone() const override { return m_gone; }

    // Up to `count` bytes that have arrived by now, logged as one read.
    std::uint32_t ReadComm(std::uint8_t* buffer, std::uint32_t count) override
    {
        Advance(Now() + readStallMs);
        PrimeStrays();
        ++reads;
        std::uint32_t got = 0;
        std::string entry = "read";
        bool closeNow = false;
        while (connected && !m_gone && !closeNow && got < count && !m_queue.empty() && m_queue.front().first <= Now()) {
            buffer[got++] = m_queue.front().second;
            m_queue.pop_front();
            ++bytesRead;
            entry += " " + Hex(buffer[got - 1]);
            closeNow = closeAfterRead && bytesRead == *closeAfterRead;
        }
        if (got > 0)
            m_log.push_back(entry);
        if (closeNow)
            FrontEndClose();
        return got;
    }

    bool HasLineTime() const override { return hasLineTime; }
    std::uint32_t WriteComm(const std::uint8_t* buffer, std::uint32_t count) override
    {
        return Write(buffer, count, false);
    }
    // Drops what arrived up to the moment the bytes left, as the real port does.
    std::uint32_t WriteTransmission(const std::uint8_t* buffer, std::uint32_t count) override
    {
        return Write(buffer, count, true);
    }

    std::uint32_t Write(const std::uint8_t* buffer, std::uint32_t count, bool dropEarlier)
    {
        PrimeStrays();
        if (!connected) {
            ++writesWhileClosed;
            m_log.push_back("write on closed port");
            return 0;
        }
        if (count == kFrameSize && closeDuringTransmission && transmissions == *closeDuringTransmission) {
            FrontEndClose();
            ++writesWhileClosed;
            m_log.push_back("write aborted");
            return 0;
        }
        const std::uint64_t limitAt = Now() + count * kWriteTimeoutPerByteMs + kWriteTimeoutConstantMs;
        if (count == kFrameSize && goneDuringTransmission && transmissions == *goneDuringTransmission) {
            Advance(limitAt);
            m_log.push_back("device gone");
            m_gone = true;
            framesAttempted.insert(std::vector<std::uint8_t>(buffer, buffer + count));
            ++transmissions;
            return 0;
        }
        std::uint64_t leavesAt = Now();
        for (const auto& [from, to] : xoffHolds) {
            if (leavesAt >= from && leavesAt < to)
                leavesAt = to;
        }
        const bool frame = count == kFrameSize;
        if (frame)
            framesAttempted.insert(std::vector<std::uint8_t>(buffer, buffer + count));
        if (frame && failedTransmissions.count(transmissions) != 0) {
            m_log.push_back("frame failed");
            ++transmissions;
            return 0;
        }
        if ((frame && heldTransmissions.count(transmissions) != 0) || leavesAt > limitAt) {
            // Held by XOFF until the write limit: nothing leaves.
            Advance(limitAt);
            m_log.push_back(frame ? "frame held" : "write held");
            if (frame) {
                for (const ScriptedReply& r : replies[transmissions])
                    ScheduleReply(Now() + r.delayMs, r.byte);
                ++transmissions;
            }
            return 0;
        }
        Advance(leavesAt);
        line.insert(line.end(), buffer, buffer + count);
        if (frame)
            Advance(Now() + writeDurationMs);
        if (dropEarlier) {
            while (!m_queue.empty() && m_queue.front().first <= Now()) {
                m_log.push_back("dropped " + Hex(m_queue.front().second));
                m_queue.pop_front();
            }
        }
        if (frame) {
            m_log.push_back("frame");
            for (const ScriptedReply& r : replies[transmissions])
                ScheduleReply(Now() + r.delayMs, r.byte);
            ++transmissions;
        } else {
            std::string entry = "write";
            for (std::uint32_t i = 0; i < count; ++i)
                entry += " " + Hex(buffer[i]);
            m_log.push_back(entry);
        }
        return count;
    }

    bool WaitForInput(std::chrono::milliseconds timeout) override
    {
        PrimeStrays();
        if (!connected || m_gone)
            return true;
        std::uint64_t step = static_cast<std::uint64_t>(timeout.count());
        if (maxWaitStepMs)
            step = std::min<std::uint64_t>(step, *maxWaitStepMs);
        const std::uint64_t wakeAt = Now() + step;
        // Whichever comes first: a reply, the front end's close, the timeout.
        const bool replyDue = !m_queue.empty() && m_queue.front().first <= wakeAt;
        const std::uint64_t replyAt = replyDue ? std::max(m_queue.front().first, Now()) : wakeAt;
        if (closeAtMs && *closeAtMs >= Now() && *closeAtMs <= wakeAt && (!replyDue || *closeAtMs < replyAt)) {
            Advance(*closeAtMs);
            FrontEndClose();
            return true;
        }
        if (goneAtMs && *goneAtMs >= Now() && *goneAtMs <= wakeAt && (!replyDue || *goneAtMs < replyAt)) {
            Advance(*goneAtMs);
            m_log.push_back("device gone");
            m_gone = true;
            return true;
        }
        if (replyDue) {
            Advance(replyAt + lateWakeMs);
            return true;
        }
        Advance(wakeAt);
        return false;
    }

    void ClosePort() override
    {
        m_log.push_back(connected ? "close" : "close on closed port");
        if (connected)
            ++closesByWorker;
        connected = false;
    }

    // Time on the fake clock since the test began, free of the 32-bit wrap.
    std::uint64_t Now() const { return m_elapsed; }

    static std::string Hex(std::uint8_t b)
    {
        static const char* digits = "0123456789ABCDEF";
        return std::string{digits[b >> 4], digits[b & 15]};
    }

private:
    // The fake clock may start anywhere (to test the wrap); the port keeps
    // its own unwrapped time and moves the clock along with it.
    void Advance(std::uint64_t to)
    {
        m_clock.now += static_cast<std::uint32_t>(to - m_elapsed);
        m_elapsed = to;
    }
    void ScheduleReply(std::uint64_t at, std::uint8_t byte)
    {
        // Replies keep their order; a later one never overtakes.
        at = std::max(at, m_lastReplyAt);
        m_lastReplyAt = at;
        Schedule(at, byte);
    }
    void Schedule(std::uint64_t at, std::uint8_t byte)
    {
        auto where = std::upper_bound(m_queue.begin(), m_queue.end(), at,
                                      [](std::uint64_t t, const auto& entry) { return t < entry.first; });
        m_queue.emplace(where, at, byte);
    }
    void PrimeStrays()
    {
        if (m_primed)
            return;
        m_primed = true;
        for (const auto& [at, byte] : strays)
            Schedule(at, byte);
    }
    void FrontEndClose()
    {
        m_log.push_back("front end closes");
        connected = false;
    }

    FakeClock& m_clock;
    std::vector<std::string>& m_log;
    std::deque<std::pair<std::uint64_t, std::uint8_t>> m_queue;
    std::uint64_t m_elapsed = 0;
    std::uint64_t m_lastReplyAt = 0;
    bool m_primed = false;
    bool m_gone = false;
};

// A port that a session opens itself, over a scripted line: the port
// numbers in `openable` (any, when empty) and every device, unless
// `openFails`. Each open is noted by the name it was given ("COM3" or the
// device).
class ScriptedSerialPort final : public ISerialPort {
public:
    ScriptedSerialPort(FakeClock& clock, std::vector<std::string>& log) : line(clock, log) { line.connected = false; }

    bool OpenPort(std::uint16_t port, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        const bool known = openable.empty() || openable.count(port) != 0;
        return Open("COM" + std::to_string(port), known, "/dev/fake" + std::to_string(port));
    }
    bool OpenDevice(const std::string& device, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        return Open(device, true, device);
    }
    PortError LastPortError() const override { return m_error; }
    std::string DevicePath() const override { return opened.empty() ? std::string() : opened.back(); }
    bool IsConnected() const override { return line.IsConnected(); }
    bool DeviceGone() const override { return line.DeviceGone(); }
    bool HasLineTime() const override { return line.HasLineTime(); }
    std::uint32_t ReadComm(std::uint8_t* b, std::uint32_t n) override { return line.ReadComm(b, n); }
    std::uint32_t WriteComm(const std::uint8_t* b, std::uint32_t n) override { return line.WriteComm(b, n); }
    std::uint32_t WriteTransmission(const std::uint8_t* b, std::uint32_t n) override
    {
        return line.WriteTransmission(b, n);
    }
    bool WaitForInput(std::chrono::milliseconds timeout) override { return line.WaitForInput(timeout); }
    void ClosePort() override { line.ClosePort(); }

    ScriptedPort line;
    std::set<std::uint16_t> openable;
    bool openFails = false;
    std::vector<std::string> opened;

private:
    bool Open(const std::string& name, bool known, const std::string& device)
    {
        opened.push_back(name);
        line.connected = known && !openFails;
        m_error = line.connected ? PortError{} : PortError{device, PortErrorReason::NoSuchDevice, 0, {}};
        return line.connected;
    }
    PortError m_error;
};

class LoggingObserver final : public IRunObserver {
public:
    explicit LoggingObserver(std::vector<std::string>& log) : m_log(log) {}

    void OnProgressStep(std::uint64_t) override
    {
        ++steps;
        m_log.push_back("progress +1");
    }
    void OnProgressReset(std::uint64_t) override { m_log.push_back("progress 0"); }
    void OnEnableControls(std::uint64_t, bool enable) override
    {
        m_log.push_back(enable ? "controls on" : "controls off");
    }
    void OnNotice(std::uint64_t, Notice n) override
    {
        notices.push_back(n);
        m_log.push_back("notice");
    }
    void OnRunEnded(std::uint64_t runId, RunOutcome o, const RunStats& s) override
    {
        ++ended;
        endedRunId = runId;
        outcome = o;
        stats = s;
        m_log.push_back("ended");
    }

    int steps = 0;
    int ended = 0;
    std::vector<Notice> notices;
    std::uint64_t endedRunId = 0;
    std::optional<RunOutcome> outcome;
    RunStats stats;

private:
    std::vector<std::string>& m_log;
};

}  // namespace veltrad::test
