#include "cli/PortResult.h"

#include "cli/AdapterHints.h"
#include "cli/DownloadCommand.h"
#include "cli/Outcome.h"

#include <cstdio>

namespace veltrad::cli {

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

std::string JsonString(const std::string& value)
{
    std::string out = "\"";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;  // UTF-8 passes through
        }
    }
    return out + "\"";
}

std::string JsonObject(const PortResult& r)
{
    std::string out = "{\"port\":" + JsonString(r.port) + ",\"device\":" + JsonString(r.device) +
                      ",\"outcome\":" + JsonString(r.outcome) + "," + JsonCounters(r.stats);
    if (r.stats.replies > 0)  // a port that never answered has no reply fields
        out += ReplyTimesJson(r.stats);
    return out + "}";
}

std::string JsonArray(const std::vector<PortResult>& results)
{
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i)
        out += (i == 0 ? "" : ",") + JsonObject(results[i]);
    return out + "]";
}

}  // namespace veltrad::cli
