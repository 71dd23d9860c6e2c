#include "multiport/PortRun.h"

namespace veltrad {

void CEndSignal::Notify()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_count;
    }
    m_changed.notify_all();
}

void CEndSignal::WaitPast(std::uint64_t& seen, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_count != seen; });
    seen = m_count;
}

CPortRun::CPortRun(std::string port, std::string device, const CPortMap& ports, CEndSignal& ended,
                   CDownloadSession::ThreadLauncher launcher, PortRunHooks hooks)
    : m_port(std::move(port)),
      m_device(std::move(device)),
      m_ended(ended),
      m_hooks(std::move(hooks)),
      m_session(*this, m_hooks.clock, m_hooks.port)
{
    if (launcher)
        m_session.SetThreadLauncher(std::move(launcher));
    m_session.SetPortMap(ports);
    if (const auto number = ParseComName(m_port))
        m_session.SelectPort(*number);
    else
        m_session.SelectDevice(m_port);
}

void CPortRun::Start(const std::shared_ptr<const CDownloadImage>& frames)
{
    m_frames = static_cast<std::uint32_t>(frames->m_FrameList.size());
    m_started = std::chrono::steady_clock::now();
    switch (m_session.StartDownload(frames)) {
    case StartResult::Started: return;
    case StartResult::PortOpenFailed: {
        PortError error = m_session.Comm().LastPortError();
        if (error.reason == PortErrorReason::PortNumberOutOfRange)
            error.device = m_port;  // as typed: the number was capped to 16 bits
        m_openError = error;
        End(UnstartedResult(m_port, m_device, "port-open-failed", "cannot open the port: " + error.Message(),
                            m_frames));
        return;
    }
    case StartResult::ThreadFailed:
        End(UnstartedResult(m_port, m_device, "thread-failed", "cannot start the transfer: the system refused a thread",
                            m_frames));
        return;
    case StartResult::NothingToSend:
    case StartResult::FileError:
        // The caller sends no image without frames.
        End(UnstartedResult(m_port, m_device, "nothing-to-send", "nothing to send", m_frames));
        return;
    }
}

void CPortRun::OnRunEnded(std::uint64_t, RunOutcome outcome, const RunStats& stats)
{
    // A single run leaves a failed port open for the next action to close;
    // here the other ports may go on for long, and the port (and its lock)
    // would be held all that time: closed before the result is known, so a
    // retry can open it at once.
    m_session.Comm().ClosePort();
    End(RunResult(m_port, m_device, outcome, stats));
}

void CPortRun::End(PortResult result)
{
    {
        const std::lock_guard lock(m_mutex);
        m_result = std::move(result);
    }
    m_ended.Notify();
    if (m_hooks.onEnded)
        m_hooks.onEnded();
}

std::optional<PortResult> CPortRun::Result() const
{
    const std::lock_guard lock(m_mutex);
    return m_result;
}

PortLine CPortRun::Line(bool stopping) const
{
    // A device given by its path is not shown twice.
    const std::string device = m_device == m_port ? std::string() : m_device;
    PortLine line{m_port, device, m_acknowledged.load(), m_frames, 0.0, stopping ? "stopping" : "sending"};
    if (const auto result = Result()) {
        line.acknowledged = result->stats.acknowledged;
        line.seconds = result->stats.seconds;
        line.state = result->outcome;
    } else {
        line.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    }
    return line;
}

}  // namespace veltrad
