#pragma once
// A run's outcome as every front end names it: its name (in JSON, the run log
// and the records), its exit status and its words, for one port and for
// several alike.

#include "download/RunObserver.h"

#include <string>

namespace veltrad {

// "completed", "timed-out", "timed-out-after-ack", "refused", "stopped",
// "end-held", "file-error", "nothing-to-send", "port-open-failed", "thread-failed".
const char* OutcomeName(RunOutcome outcome);
// The exit status of a single run that ended this way.
int OutcomeStatus(RunOutcome outcome);
// One sentence: what happened and, for a failure, what to do. A device that
// went away and a line held by XOFF are said as such rather than as a
// silent terminal. A run that never started is said without its detail
// ("cannot open the port"); its caller adds what it knows.
std::string OutcomeWords(RunOutcome outcome, const RunStats& stats);

}  // namespace veltrad
