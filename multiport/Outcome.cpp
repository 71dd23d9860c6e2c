#include "multiport/Outcome.h"

#include "multiport/ExitStatus.h"

#include <cstdio>

namespace veltrad {

const char* OutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return "completed";
    case RunOutcome::TimedOut: return "timed-out";
    case RunOutcome::TimedOutAfterAck: return "timed-out-after-ack";
    case RunOutcome::Refused: return "refused";
    case RunOutcome::Stopped: return "stopped";
    case RunOutcome::EndHeld: return "end-held";
    case RunOutcome::FileError: return "file-error";
    case RunOutcome::NothingToSend: return "nothing-to-send";
    case RunOutcome::PortOpenFailed: return "port-open-failed";
    case RunOutcome::ThreadFailed: return "thread-failed";
    }
    return "";
}

int OutcomeStatus(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return kExitOk;
    case RunOutcome::TimedOut: return kExitSilent;
    case RunOutcome::TimedOutAfterAck: return kExitSilentAfterAck;
    case RunOutcome::Refused: return kExitRefused;
    case RunOutcome::Stopped: return kExitStopped;
    case RunOutcome::EndHeld: return kExitEndHeld;
    case RunOutcome::FileError: return kExitUsage;
    case RunOutcome::NothingToSend: return kExitNothingToSend;
    case RunOutcome::PortOpenFailed: return kExitPortFailed;
    case RunOutcome::ThreadFailed: return kExitUsage;
    }
    return kExitUsage;
}

std::string OutcomeWords(RunOutcome outcome, const RunStats& s)
{
    const std::string ofTotal = std::to_string(s.acknowledged) + " of " + std::to_string(s.frames);
    const std::string nextFrame = std::to_string(s.acknowledged + 1) + " of " + std::to_string(s.frames);
    const bool timedOut = outcome == RunOutcome::TimedOut || outcome == RunOutcome::TimedOutAfterAck;
    // A device that went away explains a cut-short write too.
    if (timedOut && s.lastWriteCutShort && !s.portGone) {
        // The terminal was not silent: it kept the line stopped, so the frame never went out whole.
        return "communication error: the terminal held the line with XOFF past the write time limit, so frame " +
               nextFrame + " was not sent; run the download again";
    }
    if (timedOut && !s.portGone && s.earlyReplies > 0) {
        // Replies faster than the line can carry a frame were taken for stray bytes.
        return "communication error: the terminal's replies came sooner than a 115200-baud line can carry a frame "
               "(a simulator run with --instant? no terminal answers that soon); " +
               ofTotal + " frames acknowledged";
    }
    switch (outcome) {
    case RunOutcome::Completed: {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, " in %.2f s", s.seconds);
        return "download complete: " + std::to_string(s.frames) + " frames acknowledged" + seconds;
    }
    case RunOutcome::TimedOut:
        if (s.portGone)
            return "communication error: the port went away (unplugged?) before the terminal answered; 0 of " +
                   std::to_string(s.frames) + " frames acknowledged";
        return "communication error: the terminal did not answer the first frame within 5 s";
    case RunOutcome::TimedOutAfterAck:
        if (s.portGone)
            return "communication error: the port went away (unplugged?) after " + ofTotal +
                   " frames; run the download again";
        return "communication error: the terminal stopped answering after " + ofTotal +
               " frames; run the download again";
    case RunOutcome::Refused: return "download failed: the terminal refused frame " + nextFrame + " five times";
    case RunOutcome::Stopped: return "stopped: " + ofTotal + " frames acknowledged";
    case RunOutcome::EndHeld:
        return "download failed: every frame was acknowledged, but the terminal held the line with XOFF, so the "
               "closing bytes were not sent; run the download again";
    case RunOutcome::FileError: return "cannot read the image";
    case RunOutcome::NothingToSend: return "nothing to send";
    case RunOutcome::PortOpenFailed: return "cannot open the port";
    case RunOutcome::ThreadFailed: return "cannot start the transfer: the system refused a thread";
    }
    return {};
}

}  // namespace veltrad
