#include "download/DownloadRun.h"

#include "serial/CommThread.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace veltrad {

CDownloadRun::CDownloadRun(std::uint64_t runId, std::span<const CPacket> frames, IPort& port, IClock& clock,
                           IRunObserver& observer)
    : m_nFramesLeft(static_cast<std::uint32_t>(frames.size())),
      m_runId(runId),
      m_frames(frames),
      m_port(port),
      m_clock(clock),
      m_observer(observer),
      m_replyTimes(frames.size())
{
    m_stats.frames = m_nFramesLeft;
}

void CDownloadRun::DiscardQueuedInput()
{
    // A byte queued before this transmission answers an earlier one (a second
    // ACK, a late refusal); taken as the reply to this one it could
    // acknowledge a frame the terminal never received. At most one input
    // queue is read, so a line that never stops talking cannot hold the run.
    std::array<std::uint8_t, 256> sink;
    std::uint32_t discarded = 0;
    while (discarded < kQueueSize) {
        const std::uint32_t want = std::min(static_cast<std::uint32_t>(sink.size()), kQueueSize - discarded);
        const std::uint32_t got = m_port.ReadComm(sink.data(), want);
        if (got == 0)
            break;
        discarded += got;
    }
}

void CDownloadRun::WriteFrame(const CPacket& frame)
{
    DiscardQueuedInput();
    // A short write is not acted on: the terminal then sends no ACK and the
    // frame ends in a refusal or a timeout like any other lost frame. It is
    // only recorded, so the front end can say why the terminal fell silent;
    // a write that a stop cut short is no held line.
    const std::uint32_t started = m_clock.MicroTickCount();
    const std::uint32_t written = m_port.WriteComm(frame.m_byFrame.data(), static_cast<std::uint32_t>(kFrameSize));
    m_replyTimes.WriteEnded(started, m_clock.MicroTickCount());
    m_stats.lastWriteCutShort = written < kFrameSize && m_port.IsConnected();
}

CDownloadRun::Reply CDownloadRun::AwaitReply(const CPacket& frame, std::uint32_t startTick)
{
    for (;;) {
        if (!m_port.IsConnected())
            return Reply::Stopped;

        std::uint8_t reply = 0;
        if (m_port.ReadComm(&reply, 1) == 0) {
            // An unplugged adapter answers nothing ever again: no need to
            // wait out the timeout.
            if (m_port.DeviceGone())
                return Reply::PortGone;
            // Modulo 2^32, so a wrap of the tick counter is no timeout.
            const std::uint32_t elapsed = m_clock.TickCount() - startTick;
            if (elapsed > kReplyTimeoutMs)
                return Reply::TimedOut;
            // Sleep until a byte comes, the port is closed or the deadline is
            // one millisecond past, instead of spinning a core; the next poll
            // then makes the same tests in the same order.
            const std::uint32_t untilDeadline = kReplyTimeoutMs - elapsed + 1;
            m_port.WaitForInput(std::chrono::milliseconds(std::min(untilDeadline, kReplyWaitSliceMs)));
            continue;
        }
        m_replyTimes.ReplyRead(m_clock.MicroTickCount());

        if (reply == kAck) {
            m_observer.OnProgressStep(m_runId);
            ++m_stats.acknowledged;
            m_nResendBudget = kResendBudget;
            return Reply::Ack;
        }
        // Any other byte is a refusal, 0x15 or not.
        if (m_nResendBudget < 0)
            return Reply::Refused;
        --m_nResendBudget;
        ++m_stats.resends;
        // No test of the open flag here: a closed port ignores the write and
        // the next poll sees the stop.
        WriteFrame(frame);
    }
}

RunOutcome CDownloadRun::Exchange()
{
    for (;;) {
        // Frames left is tested before the stop flag, so a stop that comes
        // after the last ACK still lets the closing sequence run.
        if (m_nFramesLeft == 0)
            return RunOutcome::Completed;
        if (!m_port.IsConnected())
            return RunOutcome::Stopped;

        const CPacket& frame = m_frames[m_posCurrent];
        ++m_posCurrent;
        --m_nFramesLeft;
        WriteFrame(frame);
        // Taken once per frame, after its first write; resends keep it.
        const std::uint32_t startTick = m_clock.TickCount();

        switch (AwaitReply(frame, startTick)) {
        case Reply::Ack: break;
        case Reply::Refused: return RunOutcome::Refused;
        case Reply::PortGone: m_stats.portGone = true; [[fallthrough]];
        case Reply::TimedOut: return m_stats.acknowledged == 0 ? RunOutcome::TimedOut : RunOutcome::TimedOutAfterAck;
        case Reply::Stopped: return RunOutcome::Stopped;
        }
    }
}

void CDownloadRun::FinishDownload()
{
    m_observer.OnProgressReset(m_runId);
    // Three separate one-byte writes, no reply awaited, results not examined.
    for (int i = 0; i < kEotCount; ++i)
        m_port.WriteComm(&kEot, 1);
    if (m_port.IsConnected())
        m_port.ClosePort();
    m_observer.OnNotice(m_runId, Notice::Complete);
}

void CDownloadRun::EnableControls(bool enable) { m_observer.OnEnableControls(m_runId, enable); }

void CDownloadRun::ShowCommErrorNotice() { m_observer.OnNotice(m_runId, Notice::CommError); }

void CDownloadRun::ShowCommErrorRetryNotice() { m_observer.OnNotice(m_runId, Notice::CommErrorRetry); }

void CDownloadRun::ShowFailNotice() { m_observer.OnNotice(m_runId, Notice::Fail); }

void CDownloadRun::ReportOutcome(RunOutcome outcome)
{
    m_bOutcomeReached.store(true);
    // The stop already restored the controls and the bar.
    if (outcome == RunOutcome::Stopped)
        return;
    // Every outcome with a notice gives the controls back first.
    EnableControls(true);
    switch (outcome) {
    case RunOutcome::Completed: FinishDownload(); break;
    case RunOutcome::TimedOut: ShowCommErrorNotice(); break;
    case RunOutcome::TimedOutAfterAck: ShowCommErrorRetryNotice(); break;
    case RunOutcome::Refused: ShowFailNotice(); break;
    case RunOutcome::Stopped: break;
    }
}

void DownloadThreadProc(CDownloadRun& run)
{
    const auto started = std::chrono::steady_clock::now();
    run.m_posCurrent = 0;
    run.m_nResendBudget = kResendBudget;
    const RunOutcome outcome = run.Exchange();
    run.ReportOutcome(outcome);

    run.m_replyTimes.Fill(run.m_stats);
    run.m_stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.m_observer.OnRunEnded(run.m_runId, outcome, run.m_stats);
}

}  // namespace veltrad
