#pragma once
// How the download on one port ended, as every front end that loads several
// terminals reports it: the outcome, the exit status a single run would have
// had, and a sentence for the operator.

#include "download/RunObserver.h"
#include "serial/PortError.h"

#include <cstdint>
#include <string>

namespace veltrad {

struct PortResult {
    std::string port;    // as the operator named it (COMn or a device path)
    std::string device;  // the device it named; empty when none
    RunOutcome outcome = RunOutcome::Stopped;
    std::string words;  // the outcome in words, for the summary and the log
    RunStats stats;     // reply times in it count where stats.replies > 0

    bool Completed() const { return outcome == RunOutcome::Completed; }
    // The exit status of a single run that ended this way.
    int Status() const;
};

// A run that ended with an outcome.
PortResult RunResult(std::string port, std::string device, RunOutcome outcome, const RunStats& stats);

// A port whose run never started: FileError, NothingToSend, PortOpenFailed,
// ThreadFailed, or Stopped by a signal before the start; `words` say why.
PortResult UnstartedResult(std::string port, std::string device, RunOutcome outcome, std::string words,
                           std::uint32_t frames);

// A run whose start failed (NothingToSend, PortOpenFailed, ThreadFailed), in
// the same words for every front end; `openError` says why the port did not
// open.
PortResult StartFailure(std::string port, std::string device, RunOutcome outcome, const PortError& openError,
                        std::uint32_t frames);

}  // namespace veltrad
