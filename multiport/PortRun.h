#pragma once
// One port of a download to several terminals: its session, the events of
// its worker, and its result once the run has ended.

#include "multiport/PortResult.h"
#include "download/DownloadSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace veltrad {

// Wakes the front end's thread when any of the runs has ended.
class CEndSignal {
public:
    void Notify();
    // Returns when a Notify() came after the one `seen` counts, or after
    // `timeout`; updates `seen`.
    void WaitPast(std::uint64_t& seen, std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_count = 0;
};

// One port's progress as a front end shows it while the runs go on.
struct PortLine {
    std::string port;
    std::string device;
    std::uint32_t acknowledged = 0;
    std::uint32_t frames = 0;
    double seconds = 0.0;  // the run's time so far, or its length once it ended
    std::string state;     // "sending", "stopping", or the outcome
};

// What a front end with a window of its own gives a run besides the launcher:
// its clock and port (null: the system's; given ones outlive the run), and
// calls from the worker at each acknowledged frame and once the result is
// set. The calls must return at once and never wait for the front end's
// thread; a run that does not start calls onEnded on the caller's thread.
struct PortRunHooks {
    IClock* clock = nullptr;
    ISerialPort* port = nullptr;
    std::function<void()> onProgress;
    std::function<void()> onEnded;
};

// Called on the front end's thread, apart from the observer's events, which
// come from the worker.
class CPortRun final : private IRunObserver {
public:
    // `port` is a COMn name or a device path, `device` what it names through
    // `ports`; `launcher` starts the worker (empty: a plain std::thread).
    CPortRun(std::string port, std::string device, const CPortMap& ports, CEndSignal& ended,
             CDownloadSession::ThreadLauncher launcher = {}, PortRunHooks hooks = {});

    // Opens the port and starts the worker over `frames`; a port that does
    // not start has its result at once.
    void Start(const std::shared_ptr<const CDownloadImage>& frames);
    // Like the stop button: closes the port; the worker ends at its next test.
    void Stop() { m_session.OnStop(); }
    // Waits for the worker (closing the port first if the run still goes).
    void Join() { m_session.StopAndJoin(); }

    const std::string& Port() const { return m_port; }
    const std::string& Device() const { return m_device; }
    // Set once the run has ended, its port closed, or failed to start.
    std::optional<PortResult> Result() const;
    // Why the port did not open, once Start found it so.
    const PortError& OpenError() const { return m_openError; }
    PortLine Line(bool stopping) const;

private:
    void OnProgressStep(std::uint64_t) override
    {
        m_acknowledged.fetch_add(1);
        if (m_hooks.onProgress)
            m_hooks.onProgress();
    }
    void OnRunEnded(std::uint64_t, RunOutcome outcome, const RunStats& stats) override;
    void End(PortResult result);

    const std::string m_port;
    const std::string m_device;
    CEndSignal& m_ended;
    const PortRunHooks m_hooks;
    std::chrono::steady_clock::time_point m_started;
    std::uint32_t m_frames = 0;
    PortError m_openError;  // set by Start, on the front end's thread
    std::atomic<std::uint32_t> m_acknowledged{0};
    mutable std::mutex m_mutex;
    std::optional<PortResult> m_result;
    // Last, so that its worker is joined before what it reports to goes.
    CDownloadSession m_session;
};

}  // namespace veltrad
