#pragma once
// The signals that stop veltrad-cli the way the stop button stops a run:
// Ctrl-C, a termination request and, where there is one, the hang-up of the
// terminal the program runs in (on Windows: Ctrl-C, Ctrl-Break, the console
// window closing, logoff, shutdown). While a CStopSignals lives they only
// raise a flag, which the program polls to stop by itself; the handlers that
// were there before come back when it goes. It must go only after the
// program has said and logged how its runs ended: on Windows a closing
// console ends the process as soon as it is gone. main() makes the first
// one, before anything else, so that no stop finds the program without them;
// one made while another lives shares its flag and its handlers. On POSIX a
// stop interrupts a blocking system call (EINTR) rather than letting it go on,
// so that it reaches a read of a stalled file. One implementation per
// platform.

#include <functional>
#include <thread>

namespace veltrad::cli {

class CStopSignals {
public:
    CStopSignals();
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // True once one of the signals has come. Safe from any thread.
    bool Raised() const;
};

// Runs `body` with the stop signals held back on this thread; they come once
// it returns. A write of output is then never cut short by one.
void WithStopSignalsHeld(const std::function<void()>& body);

// Starts a run's worker with the stop signals kept off it, so that they
// always reach the thread that polls the flag and stops the runs.
std::thread StartWithoutStopSignals(std::function<void()> body);

}  // namespace veltrad::cli
