#include "download/DownloadSession.h"

#include "download/DownloadRun.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

namespace veltrad {

struct CDownloadSession::Worker {
    Worker(std::uint64_t runId, std::span<const CPacket> frames, IPort& port, IClock& clock, IRunObserver& observer)
        : run(runId, frames, port, clock, observer)
    {
    }

    CDownloadRun run;  // this run's own cursor, counters and id
    std::thread thread;
    std::atomic<bool> finished{false};
};

CDownloadSession::CDownloadSession(IRunObserver& observer, IClock* clock, ISerialPort* port)
    : m_observer(observer),
      m_clock(clock),
      m_ownPort(port ? nullptr : std::make_unique<CCommThread>()),
      m_comm(port ? *port : *m_ownPort)
{
    if (m_clock == nullptr) {
        m_systemClock = std::make_unique<CSystemClock>();
        m_clock = m_systemClock.get();
    }
}

CDownloadSession::~CDownloadSession() { StopAndJoin(); }

void CDownloadSession::SetThreadLauncher(ThreadLauncher launcher) { m_launcher = std::move(launcher); }

void CDownloadSession::SetPortMap(CPortMap ports)
{
    if (m_ownPort)
        m_ownPort->SetPortMap(std::move(ports));
}

void CDownloadSession::SelectPort(std::uint16_t port)
{
    m_nPort = port;
    m_devicePath.clear();
}

void CDownloadSession::SelectDevice(const std::string& devicePath) { m_devicePath = devicePath; }

void CDownloadSession::EndPreviousRun()
{
    if (!m_worker)
        return;
    // Stopped the way the stop button does, also in its closing sequence,
    // which may wait for an XON: the new action does not wait for it. The
    // worker never waits for this thread, so the join is short.
    m_comm.ClosePort();
    // A launcher may run the worker inline (tests); there is then nothing to join.
    if (m_worker->thread.joinable())
        m_worker->thread.join();
    m_worker.reset();
}

bool CDownloadSession::OpenSelectedPort()
{
    if (m_comm.IsConnected())
        m_comm.ClosePort();
    if (!m_devicePath.empty())
        return m_comm.OpenDevice(m_devicePath, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
    return m_comm.OpenPort(m_nPort, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
}

bool CDownloadSession::TestSelectedPort()
{
    EndPreviousRun();
    const bool opened = OpenSelectedPort();
    if (opened)
        m_comm.ClosePort();
    return opened;
}

bool CDownloadSession::OpenFile(const std::filesystem::path& path, ImageError* error)
{
    EndPreviousRun();
    m_image.SetFile(path);
    return m_image.InspectFile(error);
}

StartResult CDownloadSession::OnDownload(ImageError* fileError)
{
    // The frames, the port and the counters belong to one run at a time.
    EndPreviousRun();
    m_sharedFrames.reset();

    if (!m_image.BuildFrames(fileError))
        return StartResult::FileError;
    // An image without a non-zero byte would open the port and start a worker
    // that has nothing to do: say so instead, and leave everything as it is.
    if (m_image.m_FrameList.empty())
        return StartResult::NothingToSend;
    return OpenAndStart(m_image.m_FrameList);
}

StartResult CDownloadSession::StartDownload(std::shared_ptr<const CDownloadImage> frames)
{
    EndPreviousRun();
    m_sharedFrames = std::move(frames);
    if (m_sharedFrames->m_FrameList.empty())
        return StartResult::NothingToSend;
    return OpenAndStart(m_sharedFrames->m_FrameList);
}

StartResult CDownloadSession::OpenAndStart(std::span<const CPacket> frames)
{
    if (!OpenSelectedPort())
        return StartResult::PortOpenFailed;

    const std::uint64_t runId = m_runId.load() + 1;
    m_runId.store(runId);
    auto worker = std::make_unique<Worker>(runId, frames, m_comm, *m_clock, m_observer);
    Worker* w = worker.get();
    auto body = [w] {
        DownloadThreadProc(w->run);
        w->finished.store(true);
    };
    try {
        w->thread = m_launcher ? m_launcher(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        // No worker will ever close the port or give the controls back.
        m_comm.ClosePort();
        return StartResult::ThreadFailed;
    }
    m_worker = std::move(worker);
    return StartResult::Started;
}

void CDownloadSession::OnStop()
{
    if (m_comm.IsConnected())
        m_comm.ClosePort();
}

void CDownloadSession::StopAndJoin()
{
    OnStop();
    if (m_worker) {
        if (m_worker->thread.joinable())
            m_worker->thread.join();
        m_worker.reset();
    }
}

bool CDownloadSession::IsRunning() const { return m_worker && !m_worker->finished.load(); }

std::uint64_t CDownloadSession::CurrentRunId() const { return m_runId.load(); }

std::uint32_t CDownloadSession::FrameCount() const
{
    const CDownloadImage& image = m_sharedFrames ? *m_sharedFrames : m_image;
    return static_cast<std::uint32_t>(image.m_FrameList.size());
}

}  // namespace veltrad
