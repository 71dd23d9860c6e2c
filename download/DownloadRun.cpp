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

CDownloadRun::Sent CDownloadRun::Transmit(const CPacket& frame)
{
    // The port drops what came in before the frame's bytes left the host: a
    // second ACK, a late refusal, a stray byte during an XOFF hold. Taken as
    // the reply to this frame, any of them could acknowledge a frame the
    // terminal never received.
    m_carriedReply.reset();
    const std::uint32_t startedTick = m_clock.TickCount();
    const std::uint32_t started = m_clock.MicroTickCount();
    const std::uint32_t written =
        m_port.WriteTransmission(frame.m_byFrame.data(), static_cast<std::uint32_t>(kFrameSize));
    m_replyTimes.WriteEnded(started, m_clock.MicroTickCount());
    // Only a write that lasted its time limit on a port that still stands was
    // held: one that a stop, a failure or an unplugged device cut short is no
    // held line.
    const bool held = written < kFrameSize && m_port.IsConnected() && !m_port.DeviceGone() &&
                      m_clock.TickCount() - startedTick >= kWriteTimeoutConstantMs;
    m_stats.lastWriteCutShort = held;
    if (written < kFrameSize)
        return held ? Sent::Held : Sent::Failed;
    if (m_port.HasLineTime())
        DropBeforeLineTime(started);
    return Sent::Whole;
}

void CDownloadRun::DropBeforeLineTime(std::uint32_t writeStartedUs)
{
    // An adapter takes the frame long before it has left the line; a byte
    // that comes before the line can have carried the frame answers
    // something earlier. Waiting wakes for each byte, so each is judged by
    // when it came.
    std::array<std::uint8_t, 64> sink;
    for (;;) {
        if (!m_port.IsConnected() || m_port.DeviceGone())
            return;
        const std::uint32_t since = m_clock.MicroTickCount() - writeStartedUs;
        if (since >= kFrameLineTimeUs)
            return;
        const std::uint32_t got = m_port.ReadComm(sink.data(), static_cast<std::uint32_t>(sink.size()));
        if (got > 0) {
            // Judged by the time after the read, since they came no later:
            // a worker that lost the processor before its read would
            // otherwise drop the genuine reply that came meanwhile.
            if (m_clock.MicroTickCount() - writeStartedUs < kFrameLineTimeUs) {
                m_stats.earlyReplies += got;
                continue;
            }
            // The line time passed during the read. A stop-and-wait terminal
            // sends nothing after its reply, so only the last byte can be it.
            m_stats.earlyReplies += got - 1;
            m_carriedReply = sink[got - 1];
            return;
        }
        const std::uint32_t leftUs = kFrameLineTimeUs - since;
        m_port.WaitForInput(std::chrono::milliseconds((leftUs + 999) / 1000));
    }
}

CDownloadRun::Reply CDownloadRun::AwaitReply(const CPacket& frame, std::uint32_t startTick, Sent sent)
{
    for (;;) {
        if (!m_port.IsConnected())
            return Reply::Stopped;

        if (sent != Sent::Whole) {
            // The terminal has at most part of this frame: no reply counts
            // until it has gone out whole. An XOFF pause is no refusal: a
            // held frame goes again for as long as a reply may be awaited. A
            // write that failed otherwise draws no reply, which costs a resend.
            if (m_port.DeviceGone())
                return Reply::PortGone;
            if (m_clock.TickCount() - startTick > kReplyTimeoutMs)
                return Reply::TimedOut;
            if (sent == Sent::Failed) {
                if (m_nResendBudget < 0)
                    return Reply::TimedOut;
                --m_nResendBudget;
            }
            ++m_stats.resends;
            sent = Transmit(frame);
            continue;
        }

        std::uint8_t reply = 0;
        if (m_carriedReply) {
            reply = *m_carriedReply;
            m_carriedReply.reset();
        } else if (m_port.ReadComm(&reply, 1) == 0) {
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
        sent = Transmit(frame);
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
        const Sent sent = Transmit(frame);
        // Taken once per frame, after its first write; resends keep it.
        const std::uint32_t startTick = m_clock.TickCount();

        switch (AwaitReply(frame, startTick, sent)) {
        case Reply::Ack: break;
        case Reply::Refused: return RunOutcome::Refused;
        case Reply::PortGone: m_stats.portGone = true; [[fallthrough]];
        case Reply::TimedOut: return m_stats.acknowledged == 0 ? RunOutcome::TimedOut : RunOutcome::TimedOutAfterAck;
        case Reply::Stopped: return RunOutcome::Stopped;
        }
    }
}

RunOutcome CDownloadRun::FinishDownload()
{
    m_observer.OnProgressReset(m_runId);
    // Three one-byte writes, no reply awaited. A byte that an XOFF held past
    // the write's limit did not leave: it is written again while the line may
    // still be held as long as a reply may be awaited, but no longer.
    const std::uint32_t startTick = m_clock.TickCount();
    int sent = 0;
    while (sent < kEotCount) {
        const std::uint32_t before = m_clock.TickCount();
        if (m_port.WriteComm(&kEot, 1) == 1) {
            ++sent;
            continue;
        }
        const bool held =
            m_port.IsConnected() && !m_port.DeviceGone() && m_clock.TickCount() - before >= kWriteTimeoutConstantMs;
        if (!held || m_clock.TickCount() - startTick > kReplyTimeoutMs)
            break;
    }
    const bool stopped = !m_port.IsConnected();
    const bool gone = m_port.DeviceGone();
    if (m_port.IsConnected())
        m_port.ClosePort();
    // A terminal that lacks its end is not loaded, whatever it acknowledged.
    if (sent == kEotCount) {
        m_observer.OnNotice(m_runId, Notice::Complete);
        return RunOutcome::Completed;
    }
    if (stopped)
        return RunOutcome::Stopped;  // the stop closed the port before the end left
    if (gone) {
        m_stats.portGone = true;
        ShowCommErrorRetryNotice();
        return RunOutcome::TimedOutAfterAck;
    }
    m_stats.lastWriteCutShort = true;
    ShowFailNotice();
    return RunOutcome::EndHeld;
}

void CDownloadRun::EnableControls(bool enable) { m_observer.OnEnableControls(m_runId, enable); }

void CDownloadRun::ShowCommErrorNotice() { m_observer.OnNotice(m_runId, Notice::CommError); }

void CDownloadRun::ShowCommErrorRetryNotice() { m_observer.OnNotice(m_runId, Notice::CommErrorRetry); }

void CDownloadRun::ShowFailNotice() { m_observer.OnNotice(m_runId, Notice::Fail); }

RunOutcome CDownloadRun::ReportOutcome(RunOutcome outcome)
{
    // The stop already restored the controls and the bar.
    if (outcome == RunOutcome::Stopped)
        return outcome;
    // Every outcome with a notice gives the controls back first.
    EnableControls(true);
    switch (outcome) {
    case RunOutcome::Completed: return FinishDownload();
    case RunOutcome::TimedOut: ShowCommErrorNotice(); break;
    case RunOutcome::TimedOutAfterAck: ShowCommErrorRetryNotice(); break;
    case RunOutcome::Refused: ShowFailNotice(); break;
    case RunOutcome::EndHeld:
    case RunOutcome::Stopped: break;
    case RunOutcome::FileError:  // never the outcome of an exchange
    case RunOutcome::NothingToSend:
    case RunOutcome::PortOpenFailed:
    case RunOutcome::ThreadFailed: break;
    }
    return outcome;
}

void DownloadThreadProc(CDownloadRun& run)
{
    const auto started = std::chrono::steady_clock::now();
    run.m_posCurrent = 0;
    run.m_nResendBudget = kResendBudget;
    const RunOutcome outcome = run.ReportOutcome(run.Exchange());

    run.m_replyTimes.Fill(run.m_stats);
    run.m_stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.m_observer.OnRunEnded(run.m_runId, outcome, run.m_stats);
}

}  // namespace veltrad
