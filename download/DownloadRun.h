#pragma once
// One download run: the stop-and-wait exchange of the frames with the
// terminal and the closing sequence, carried out on the calling thread over
// any IPort. The session starts it on a worker thread; tests drive it directly
// with a scripted port and clock.

#include "download/Clock.h"
#include "download/ReplyTimes.h"
#include "download/RunObserver.h"
#include "image/Packet.h"
#include "serial/Port.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace veltrad {

// A frame's exchange times out at the first poll that reads nothing and finds
// more than this many milliseconds gone since the end of its first write.
inline constexpr std::uint32_t kReplyTimeoutMs = 5000;

// Longest single wait for a reply before the clock is read again. Keeps the
// deadline exact when the tick source is not the clock the port waits on.
inline constexpr std::uint32_t kReplyWaitSliceMs = 100;

// Refusals answered by a resend while the budget is 0 or more: 3, 2, 1, 0,
// so four resends, and the fifth refusal fails the frame. A write held by
// XOFF is no refusal: it goes again within the reply timeout, at no cost.
inline constexpr std::int32_t kResendBudget = 3;

class CDownloadRun {
public:
    // `frames` must not be empty (the session sends no image without them);
    // `frames`, `port`, `clock` and `observer` must outlive the run; nothing
    // but this run may change the frames while it is in progress.
    CDownloadRun(std::uint64_t runId, std::span<const CPacket> frames, IPort& port, IClock& clock,
                 IRunObserver& observer);
    CDownloadRun(const CDownloadRun&) = delete;
    CDownloadRun& operator=(const CDownloadRun&) = delete;

    std::uint64_t RunId() const { return m_runId; }

    friend void DownloadThreadProc(CDownloadRun& run);

    // The closing sequence after the last ACK: progress back to 0, three EOT
    // bytes, the port closed if it is still open, the completion notice. The
    // run has completed only when all three bytes left: a line held past the
    // wait ends it as EndHeld with the failure notice, a stop that closed the
    // port first as Stopped, a device that went away as a timeout after ACKs.
    RunOutcome FinishDownload();

    // The front end's controls and notices, reached only through events.
    void EnableControls(bool enable);
    void ShowCommErrorNotice();
    void ShowCommErrorRetryNotice();
    void ShowFailNotice();

    // Index of the next frame to transmit for the first time.
    std::size_t m_posCurrent = 0;
    // Frames not yet transmitted for the first time; 0 while the last one is
    // being exchanged.
    std::uint32_t m_nFramesLeft = 0;

private:
    enum class Reply { Ack, Refused, TimedOut, PortGone, Stopped };
    // How a transmission's write ended: whole; held by XOFF past its time
    // limit; or cut short sooner (a stop, a device gone, a failed write).
    enum class Sent { Whole, Held, Failed };

    RunOutcome Exchange();
    // Waits for the replies to the frame just transmitted, resending it on
    // each refusal while the budget lasts; a transmission that was not sent
    // whole is resent before any reply counts: one held by XOFF within the
    // reply time, whatever the budget, for a pause is no refusal; one that
    // failed otherwise within the budget.
    Reply AwaitReply(const CPacket& frame, std::uint32_t startTick, Sent sent);
    // Every transmission, first or resend. A reply counts only for a frame
    // that the terminal can have received whole: what came before its bytes
    // left the host, or before the line can have carried it, is dropped.
    Sent Transmit(const CPacket& frame);
    // Drops what comes before the line can have carried the frame. Bytes read
    // just as that time passed may hold the reply: their last is kept in
    // m_carriedReply for AwaitReply.
    void DropBeforeLineTime(std::uint32_t writeStartedUs);
    // The notice of the outcome; returns the run's final outcome (the
    // closing sequence may still fail a completed exchange).
    RunOutcome ReportOutcome(RunOutcome outcome);

    const std::uint64_t m_runId;
    const std::span<const CPacket> m_frames;  // viewed, never copied
    IPort& m_port;
    IClock& m_clock;
    IRunObserver& m_observer;
    std::int32_t m_nResendBudget = kResendBudget;
    RunStats m_stats;
    CReplyTimes m_replyTimes;
    std::optional<std::uint8_t> m_carriedReply;
};

// The worker: places the cursor on the first frame, runs the exchange and
// turns its outcome into events, the last of them OnRunEnded. The name is
// kept from the original design's worker; nothing reads a result, so none.
void DownloadThreadProc(CDownloadRun& run);

}  // namespace veltrad
