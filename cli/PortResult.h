#pragma once
// How the download on one port ended, as `veltrad-cli download` reports it
// when it loads several terminals: the word of the JSON output, the exit
// status a single run would have had, and a sentence for the operator.

#include "download/DownloadSession.h"
#include "download/RunObserver.h"

#include <string>
#include <vector>

namespace veltrad::cli {

struct PortResult {
    std::string port;     // as given on the command line
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

// `value` as a JSON string, quotes included.
std::string JsonString(const std::string& value);
// {"port":...,"device":...,"outcome":...,"frames":...,...} on one line.
std::string JsonObject(const PortResult& result);
// [obj,obj,...] on one line, in the order given.
std::string JsonArray(const std::vector<PortResult>& results);

}  // namespace veltrad::cli
