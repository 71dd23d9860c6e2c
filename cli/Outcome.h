#pragma once
// A run's outcome as veltrad-cli says it: its name in JSON, its exit status
// and its words, for one port and for several alike.

#include "download/RunObserver.h"

#include <string>

namespace veltrad::cli {

// "completed", "timed-out", "timed-out-after-ack", "refused", "stopped".
const char* OutcomeName(RunOutcome outcome);
// The exit status of a single run that ended this way.
int OutcomeStatus(RunOutcome outcome);
// One sentence: what happened and, for a failure, what to do. A device that
// went away and a line held by XOFF are said as such rather than as a
// silent terminal.
std::string OutcomeWords(RunOutcome outcome, const RunStats& stats);

// "frames":F,"acknowledged":A,"resends":R,"seconds":S.SSS: the counters
// every run's JSON object carries, one port or several.
std::string JsonCounters(const RunStats& stats);

// The JSON object of a single run, one line without its newline; `outcome`
// is an OutcomeName or the name of a run that never started.
std::string RunJson(const char* outcome, const RunStats& stats);

}  // namespace veltrad::cli
