#include "cli/PortResult.h"

#include "cli/DownloadCommand.h"

#include <cstdio>

namespace veltrad::cli {

namespace {

std::string Seconds(double seconds)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f s", seconds);
    return buffer;
}

struct Ending {
    const char* outcome;
    int status;
};

Ending EndingOf(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return {"completed", kExitOk};
    case RunOutcome::TimedOut: return {"timed-out", kExitSilent};
    case RunOutcome::TimedOutAfterAck: return {"timed-out-after-ack", kExitSilentAfterAck};
    case RunOutcome::Refused: return {"refused", kExitRefused};
    case RunOutcome::Stopped: return {"stopped", kExitStopped};
    }
    return {"unknown", kExitUsage};
}

std::string Words(RunOutcome outcome, const RunStats& s)
{
    const std::string ofTotal = std::to_string(s.acknowledged) + " of " + std::to_string(s.frames);
    switch (outcome) {
    case RunOutcome::Completed:
        return "download complete: " + std::to_string(s.frames) + " frames acknowledged in " + Seconds(s.seconds);
    case RunOutcome::TimedOut:
        return "communication error: the terminal did not answer the first frame within 5 s";
    case RunOutcome::TimedOutAfterAck:
        return "communication error: the terminal stopped answering after " + ofTotal + " frames";
    case RunOutcome::Refused:
        return "download failed: the terminal refused frame " + std::to_string(s.acknowledged + 1) + " of " +
               std::to_string(s.frames) + " five times";
    case RunOutcome::Stopped:
        return "stopped: " + ofTotal + " frames acknowledged";
    }
    return "unknown outcome";
}

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
    const Ending ending = EndingOf(outcome);
    PortResult result{std::move(port), std::move(device), ending.outcome, ending.status, Words(outcome, stats), stats,
                      {}, {}};
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
