#pragma once
// A run's outcome as every front end names it: its name (in JSON and the
// run log), its exit status and its words, for one port and for several alike.

#include "download/RunObserver.h"

#include <string>

namespace veltrad {

// "completed", "timed-out", "timed-out-after-ack", "refused", "stopped", "end-held".
const char* OutcomeName(RunOutcome outcome);
// The exit status of a single run that ended this way.
int OutcomeStatus(RunOutcome outcome);
// One sentence: what happened and, for a failure, what to do. A device that
// went away and a line held by XOFF are said as such rather than as a
// silent terminal.
std::string OutcomeWords(RunOutcome outcome, const RunStats& stats);

}  // namespace veltrad
