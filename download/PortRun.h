#pragma once
// One download run on one port, the only kind there is: the main window, the
// command-line tool (one port or several) and the station each own one per
// port. It holds the port (its own or one given), starts the exchange on a
// worker thread over frames built elsewhere, and tells its front end
// everything on one channel: the progress with the acknowledged count, the
// window's notices, and the result.
//
// Principles of operation
// - Every call comes on the front end's thread; only the listener is called
//   on the worker's. The worker never waits for the front end, so the front
//   end can always stop and join it.
// - Each start that opens the port gets a run id of its own, unique in the
//   process, which every event carries: a front end drops the events of a run
//   that is no longer its current one.
// - A start that fails says why at once, as Start's return, and sends no
//   event; a run that starts ends with exactly one Ended event, its last.
// - A new start, a test-open and the destructor stop and join the earlier
//   worker before they touch the port, so it never meets a changed port.

#include "download/Clock.h"
#include "download/RunObserver.h"
#include "image/DownloadImage.h"
#include "serial/CommThread.h"
#include "serial/PortMap.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace veltrad {

// What a run says, on its worker's thread.
struct RunEvent {
    enum class Kind {
        Progress,       // one more frame acknowledged
        ProgressReset,  // the closing sequence set the window's bar to 0
        Controls,       // the window's controls on or off: `enable`
        Notice,         // the notice the window shows at the end: `notice`
        Ended,          // the last event: `outcome` and `stats`
    };
    Kind kind = Kind::Progress;
    std::uint64_t runId = 0;
    std::uint32_t acknowledged = 0;  // frames acknowledged so far, in every event
    bool enable = false;
    Notice notice = Notice::Complete;
    RunOutcome outcome = RunOutcome::Stopped;
    RunStats stats;
};

class IRunListener {
public:
    virtual ~IRunListener() = default;
    // On the worker's thread: must return promptly and never wait for the
    // front end's thread (queue the event instead).
    virtual void OnRunEvent(const RunEvent& event) = 0;
};

// A port as the operator names it, resolved once: a COM name (any case)
// opens its number through the port map, any other name is a device path.
struct PortChoice {
    std::string name;                     // as given: "COM7", "com7", "/dev/ttyUSB0"
    std::optional<std::uint16_t> number;  // a COM name's, saturated at 65535
    std::string device;                   // what it names now; empty when nothing
};

PortChoice ChoosePort(std::string name, const CPortMap& ports);
// An entry of the window's list: COM1 = 1 ... COM50 = 50, 0 for none.
PortChoice ChoosePortNumber(std::uint16_t number, const CPortMap& ports);

// How a worker thread is started; the default constructs a std::thread. A
// launcher that throws std::system_error stands for a system that cannot
// start one more thread.
using ThreadLauncher = std::function<std::thread(std::function<void()>)>;

// What a front end gives its run; everything given outlives the run.
struct PortRunSetup {
    IClock* clock = nullptr;      // null: the system's clock
    ISerialPort* port = nullptr;  // null: a CCommThread of the run's own
    CPortMap ports;               // what the run's own port opens for each COM number
    ThreadLauncher launcher;      // empty: a plain std::thread
    // True: the port is closed as the run ends, so that a retry finds it
    // free while other runs go on. False (the main window): a failed run
    // leaves it open for the operator's next action to close.
    bool closeAtEnd = true;
};

class CPortRun final : private IRunObserver {
public:
    explicit CPortRun(IRunListener& listener, PortRunSetup setup = {});
    // Stops a run in progress and joins its worker.
    ~CPortRun() override;
    CPortRun(const CPortRun&) = delete;
    CPortRun& operator=(const CPortRun&) = delete;

    void SetThreadLauncher(ThreadLauncher launcher);

    // The port the next open uses.
    void Select(PortChoice port);
    const PortChoice& Port() const { return m_choice; }

    // Opens the selected port and closes it again at once; false when it
    // does not open (OpenError says why).
    bool TestOpen();

    // Opens the port and starts the worker over `frames`, which must not be
    // null and must not change while the run holds them (until its next
    // start or its end). Returns at once: nullopt when the worker runs,
    // otherwise NothingToSend (no frames, no port opened), PortOpenFailed or
    // ThreadFailed (the port closed again).
    std::optional<RunOutcome> Start(std::shared_ptr<const CDownloadImage> frames);

    // Like the stop button: closes the port; the worker ends at its next
    // test of the open flag, without a notice.
    void Stop();
    // Stop, then waits for the worker. Safe at any time.
    void StopAndJoin();

    bool IsRunning() const;
    // The latest run's id; 0 before the first.
    std::uint64_t RunId() const { return m_runId; }
    // Frames of the latest start, whether it ran or not.
    std::uint32_t Frames() const { return m_frames; }
    // Why the latest open failed, naming a COM number out of range as it was given.
    PortError OpenError() const;
    ISerialPort& Comm() { return m_port; }

private:
    struct Worker;

    void OnProgressStep(std::uint64_t runId) override;
    void OnProgressReset(std::uint64_t runId) override;
    void OnEnableControls(std::uint64_t runId, bool enable) override;
    void OnNotice(std::uint64_t runId, Notice notice) override;
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats& stats) override;
    // An event of `kind` with the count so far.
    RunEvent Event(RunEvent::Kind kind, std::uint64_t runId) const;

    // Joins the worker of an earlier run, stopping it first if it is still
    // in its exchange.
    void EndPreviousRun();
    bool OpenSelectedPort();

    IRunListener& m_listener;
    std::unique_ptr<IClock> m_systemClock;
    IClock* m_clock;
    std::unique_ptr<CCommThread> m_ownPort;
    ISerialPort& m_port;
    ThreadLauncher m_launcher;
    const bool m_closeAtEnd;
    PortChoice m_choice;
    std::uint64_t m_runId = 0;
    std::uint32_t m_frames = 0;
    std::uint32_t m_acknowledged = 0;  // the worker's count; reset before each start
    std::shared_ptr<const CDownloadImage> m_image;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace veltrad
