#include "download/PortRun.h"

#include "download/DownloadRun.h"
#include "serial/PortIdentity.h"

#include <system_error>
#include <utility>

namespace veltrad {

namespace {

// Run ids are unique in the process, so that no two runs, of one front end
// or of several, can be taken for one another.
std::atomic<std::uint64_t> g_lastRunId{0};

}  // namespace

PortChoice ChoosePort(std::string name, const CPortMap& ports)
{
    const std::optional<std::uint16_t> number = ParseComName(name);
    PortChoice choice{std::move(name), number, {}};
    if (const auto target = ResolvePort(choice.name, ports))
        choice.device = target->device;
    return choice;
}

PortChoice ChoosePortNumber(std::uint16_t number, const CPortMap& ports)
{
    return {"COM" + std::to_string(number), number, ports.Device(number).value_or(std::string())};
}

struct CPortRun::Worker {
    Worker(std::uint64_t runId, std::span<const CPacket> frames, IPort& port, IClock& clock, IRunObserver& observer)
        : run(runId, frames, port, clock, observer)
    {
    }

    CDownloadRun run;  // this run's own cursor, counters and id
    std::thread thread;
    std::atomic<bool> finished{false};
};

CPortRun::CPortRun(IRunListener& listener, PortRunSetup setup)
    : m_listener(listener),
      m_systemClock(setup.clock ? nullptr : std::make_unique<CSystemClock>()),
      m_clock(setup.clock ? setup.clock : m_systemClock.get()),
      m_ownPort(setup.port ? nullptr : std::make_unique<CCommThread>()),
      m_port(setup.port ? *setup.port : *m_ownPort),
      m_launcher(std::move(setup.launcher)),
      m_closeAtEnd(setup.closeAtEnd)
{
    if (m_ownPort)
        m_ownPort->SetPortMap(std::move(setup.ports));
}

CPortRun::~CPortRun() { StopAndJoin(); }

void CPortRun::SetThreadLauncher(ThreadLauncher launcher) { m_launcher = std::move(launcher); }

void CPortRun::Select(PortChoice port) { m_choice = std::move(port); }

void CPortRun::EndPreviousRun()
{
    if (!m_worker)
        return;
    // Stopped the way the stop button does, also in its closing sequence,
    // which may wait for an XON: the new action does not wait for it. The
    // worker never waits for this thread, so the join is short.
    m_port.ClosePort();
    // A launcher may run the worker inline (tests); there is then nothing to join.
    if (m_worker->thread.joinable())
        m_worker->thread.join();
    m_worker.reset();
}

bool CPortRun::OpenSelectedPort()
{
    if (m_port.IsConnected())
        m_port.ClosePort();
    if (m_choice.number)
        return m_port.OpenPort(*m_choice.number, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
    return m_port.OpenDevice(m_choice.device, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
}

bool CPortRun::TestOpen()
{
    EndPreviousRun();
    const bool opened = OpenSelectedPort();
    if (opened)
        m_port.ClosePort();
    return opened;
}

std::optional<RunOutcome> CPortRun::Start(std::shared_ptr<const CDownloadImage> frames)
{
    // The frames, the port and the counters belong to one run at a time.
    EndPreviousRun();
    m_image = std::move(frames);
    m_frames = static_cast<std::uint32_t>(m_image->m_FrameList.size());
    // A run without frames would open the port and start a worker that has
    // nothing to do.
    if (m_frames == 0)
        return RunOutcome::NothingToSend;
    if (!OpenSelectedPort())
        return RunOutcome::PortOpenFailed;

    m_runId = ++g_lastRunId;
    m_acknowledged = 0;
    auto worker =
        std::make_unique<Worker>(m_runId, m_image->m_FrameList, m_port, *m_clock, static_cast<IRunObserver&>(*this));
    Worker* w = worker.get();
    auto body = [w] {
        DownloadThreadProc(w->run);
        w->finished.store(true);
    };
    try {
        w->thread = m_launcher ? m_launcher(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        // No worker will ever close the port.
        m_port.ClosePort();
        return RunOutcome::ThreadFailed;
    }
    m_worker = std::move(worker);
    return std::nullopt;
}

void CPortRun::Stop()
{
    if (m_port.IsConnected())
        m_port.ClosePort();
}

void CPortRun::StopAndJoin()
{
    Stop();
    if (m_worker) {
        if (m_worker->thread.joinable())
            m_worker->thread.join();
        m_worker.reset();
    }
}

bool CPortRun::IsRunning() const { return m_worker && !m_worker->finished.load(); }

PortError CPortRun::OpenError() const
{
    PortError error = m_port.LastPortError();
    // The number was capped to 16 bits on its way to the port.
    if (error.reason == PortErrorReason::PortNumberOutOfRange && m_choice.number)
        error.device = m_choice.name;
    return error;
}

// --- the exchange's events, on the worker ---------------------------------

RunEvent CPortRun::Event(RunEvent::Kind kind, std::uint64_t runId) const
{
    RunEvent event;
    event.kind = kind;
    event.runId = runId;
    event.acknowledged = m_acknowledged;
    return event;
}

void CPortRun::OnProgressStep(std::uint64_t runId)
{
    ++m_acknowledged;
    m_listener.OnRunEvent(Event(RunEvent::Kind::Progress, runId));
}

void CPortRun::OnProgressReset(std::uint64_t runId)
{
    m_listener.OnRunEvent(Event(RunEvent::Kind::ProgressReset, runId));
}

void CPortRun::OnEnableControls(std::uint64_t runId, bool enable)
{
    RunEvent event = Event(RunEvent::Kind::Controls, runId);
    event.enable = enable;
    m_listener.OnRunEvent(event);
}

void CPortRun::OnNotice(std::uint64_t runId, Notice notice)
{
    RunEvent event = Event(RunEvent::Kind::Notice, runId);
    event.notice = notice;
    m_listener.OnRunEvent(event);
}

void CPortRun::OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats& stats)
{
    if (m_closeAtEnd)
        m_port.ClosePort();
    RunEvent event = Event(RunEvent::Kind::Ended, runId);
    event.outcome = outcome;
    event.stats = stats;
    m_listener.OnRunEvent(event);
}

}  // namespace veltrad
