#pragma once
// How the download on one port ended, as every front end that loads several
// terminals reports it: the outcome's name (JSON, run log), the exit status a
// single run would have had, and a sentence for the operator.

#include "download/DownloadSession.h"
#include "download/RunObserver.h"

#include <string>

namespace veltrad {

struct PortResult {
    std::string port;     // as the operator named it (COMn or a device path)
    std::string device;   // the device it named; empty when none
    std::string outcome;  // "completed", "refused", "port-open-failed", ...
    int status = 0;       // exit status of a single run that ended this way
    std::string words;    // the outcome in words, for the summary and the log
    RunStats stats;       // reply times in it count where stats.replies > 0

    bool Completed() const { return outcome == "completed"; }
};

// A run that ended with an outcome.
PortResult RunResult(std::string port, std::string device, RunOutcome outcome, const RunStats& stats);

// A port whose run never started: "file-error", "nothing-to-send",
// "port-open-failed", "thread-failed", or "stopped" by a signal before the
// start. `why` completes the words.
PortResult UnstartedResult(std::string port, std::string device, const char* outcome, const std::string& why,
                           std::uint32_t frames);

}  // namespace veltrad
