#include "cli/PortResult.h"

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
    PortResult result{std::move(port),
                      std::move(device),
                      OutcomeName(outcome),
                      OutcomeStatus(outcome),
                      OutcomeWords(outcome, stats),
                      stats,
                      {},
                      {}};
    if (stats.replies > 0) {
        result.replyMsMedian = stats.replyMsMedian;
        result.replyMsP95 = stats.replyMsP95;
    }
    return result;
}

PortResult UnstartedResult(std::string port, std::string device, const char* outcome, const std::string& why,
                           std::uint32_t frames)
{
    RunStats stats;
    stats.frames = frames;
    return {std::move(port), std::move(device), outcome, UnstartedStatus(outcome), why, stats, {}, {}};
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
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "\"frames\":%u,\"acknowledged\":%u,\"resends\":%u,\"seconds\":%.3f",
                  static_cast<unsigned>(r.stats.frames), static_cast<unsigned>(r.stats.acknowledged),
                  static_cast<unsigned>(r.stats.resends), r.stats.seconds);
    std::string out = "{\"port\":" + JsonString(r.port) + ",\"device\":" + JsonString(r.device) +
                      ",\"outcome\":" + JsonString(r.outcome) + "," + numbers;
    if (r.replyMsMedian && r.replyMsP95) {
        std::snprintf(numbers, sizeof numbers, ",\"reply_ms_median\":%.3f,\"reply_ms_p95\":%.3f", *r.replyMsMedian,
                      *r.replyMsP95);
        out += numbers;
    }
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
