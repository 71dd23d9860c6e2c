#pragma once
// The signals that stop veltrad-cli the way the stop button stops a run:
// Ctrl-C, a termination request and, where there is one, the hang-up of the
// terminal the program runs in (on Windows: Ctrl-C, Ctrl-Break, the console
// window closing, logoff, shutdown). While a CStopSignals lives they only
// raise a flag, which the program polls to stop by itself; the handlers that
// were there before come back when it goes. It must go only after the
// program has said and logged how its runs ended: on Windows a closing
// console ends the process as soon as it is gone. One implementation per
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

// Starts a run's worker with the stop signals kept off it, so that they
// always reach the thread that polls the flag and stops the runs.
std::thread StartWithoutStopSignals(std::function<void()> body);

}  // namespace veltrad::cli
