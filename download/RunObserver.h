#pragma once
// What a download run tells its front end. Called on the run's worker thread;
// an implementation must return promptly and must never wait for the front
// end's own thread (queue the event instead), so that the front end can
// always stop and join a worker without a deadlock.

#include <cstdint>

namespace veltrad {

// How a run on one port ended, or why it never started; the one outcome every
// front end, log and record speaks of (their names: multiport/Outcome.h).
enum class RunOutcome {
    Completed,         // every frame acknowledged, closing bytes written, port closed
    TimedOut,          // no reply for more than 5000 ms, or the device gone (RunStats::portGone),
                       // no frame acknowledged: port left open
    TimedOutAfterAck,  // the same after at least one acknowledged frame: port left open
    Refused,           // one frame refused five times: port left open
    Stopped,           // the port was closed under the run: no notice
    EndHeld,           // every frame acknowledged, but the terminal held the line (XOFF) so the
                       // closing bytes never left: failure notice, port closed
    // Runs that never started (a stop before the start is Stopped too):
    FileError,       // the image could not be read
    NothingToSend,   // the image holds no non-zero byte
    PortOpenFailed,  // the port did not open
    ThreadFailed,    // the system refused the worker thread
};

// The notices an operator sees at the end of a run.
enum class Notice {
    Complete,        // download complete
    CommError,       // communication error, nothing acknowledged
    CommErrorRetry,  // communication error after some acknowledgements
    Fail,            // download failed (refused)
};

struct RunStats {
    std::uint32_t frames = 0;        // frames in the run
    std::uint32_t acknowledged = 0;  // frames acknowledged
    std::uint32_t resends = 0;       // transmissions beyond the first of each frame
    double seconds = 0.0;            // from the start of the worker to its end
    // Time from the end of a frame's write (once it has left the line) to
    // the first reply byte after it, over every transmission that got one:
    // how many, median and 95th percentile (nearest rank), in milliseconds;
    // 0 without replies.
    std::uint32_t replies = 0;
    double replyMsMedian = 0.0;
    double replyMsP95 = 0.0;
    // The latest frame write lasted its time limit without all its bytes
    // leaving, the port open: the terminal held the line (XOFF). A timeout
    // that follows is then no silent terminal: the hold outlasted the 5000 ms
    // within which a held frame is sent again.
    bool lastWriteCutShort = false;
    bool portGone = false;  // a timeout outcome came early: the port's device went away
    // Bytes that came before a frame can have crossed the line, dropped as
    // answers to something earlier; many of them and a timeout mean a line
    // without line time (a virtual port) or a terminal that answers blindly.
    std::uint32_t earlyReplies = 0;
};

// Every event has an empty default, so an observer overrides only what it
// uses (the command-line tool, for one, has no controls to enable).
class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    // Each event names the run it belongs to; a front end ignores events of
    // a run that is no longer its current one.
    virtual void OnProgressStep(std::uint64_t runId) { (void)runId; }   // one more frame acknowledged
    virtual void OnProgressReset(std::uint64_t runId) { (void)runId; }  // the closing sequence set the bar to 0
    virtual void OnEnableControls(std::uint64_t runId, bool enable) { (void)runId, (void)enable; }
    virtual void OnNotice(std::uint64_t runId, Notice notice) { (void)runId, (void)notice; }
    // Last event of every run, whatever its outcome; the worker returns right after.
    virtual void OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats& stats) = 0;
};

}  // namespace veltrad
