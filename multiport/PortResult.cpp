#include "multiport/PortResult.h"

#include "multiport/Outcome.h"

namespace veltrad {

int PortResult::Status() const { return OutcomeStatus(outcome); }

PortResult RunResult(std::string port, std::string device, RunOutcome outcome, const RunStats& stats)
{
    return {std::move(port), std::move(device), outcome, OutcomeWords(outcome, stats), stats};
}

PortResult UnstartedResult(std::string port, std::string device, RunOutcome outcome, std::string words,
                           std::uint32_t frames)
{
    RunStats stats;
    stats.frames = frames;
    return {std::move(port), std::move(device), outcome, std::move(words), stats};
}

PortResult StartFailure(std::string port, std::string device, RunOutcome outcome, const PortError& openError,
                        std::uint32_t frames)
{
    std::string words = OutcomeWords(outcome, {});
    if (outcome == RunOutcome::PortOpenFailed)
        words += ": " + openError.Message();
    return UnstartedResult(std::move(port), std::move(device), outcome, std::move(words), frames);
}

}  // namespace veltrad
