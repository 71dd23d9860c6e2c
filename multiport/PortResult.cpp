#include "multiport/PortResult.h"

#include "multiport/ExitStatus.h"
#include "multiport/Outcome.h"

namespace veltrad {

namespace {

int UnstartedStatus(const std::string& outcome)
{
    if (outcome == "nothing-to-send")
        return kExitNothingToSend;
    if (outcome == "port-open-failed")
        return kExitPortFailed;
    if (outcome == "stopped")
        return kExitStopped;
    return kExitUsage;  // file-error, thread-failed
}

}  // namespace

PortResult RunResult(std::string port, std::string device, RunOutcome outcome, const RunStats& stats)
{
    return {std::move(port),
            std::move(device),
            OutcomeName(outcome),
            OutcomeStatus(outcome),
            OutcomeWords(outcome, stats),
            stats};
}

PortResult UnstartedResult(std::string port, std::string device, const char* outcome, const std::string& why,
                           std::uint32_t frames)
{
    RunStats stats;
    stats.frames = frames;
    return {std::move(port), std::move(device), outcome, UnstartedStatus(outcome), why, stats};
}

}  // namespace veltrad
