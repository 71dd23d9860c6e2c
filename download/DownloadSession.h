#pragma once
// Everything a download needs, owned in one place, free of any toolkit: the
// image, the port and the worker of the current run. The GUI and the
// command-line tool each own one session and turn its events into output.

#include "download/Clock.h"
#include "download/RunObserver.h"
#include "image/DownloadImage.h"
#include "serial/CommThread.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

namespace veltrad {

enum class StartResult {
    Started,         // port open, worker running; events follow
    FileError,       // the image could not be read; nothing else touched
    NothingToSend,   // the image holds no non-zero byte; no port opened
    PortOpenFailed,  // the port did not open; frames built, controls stay enabled
    ThreadFailed,    // the worker could not be started; port closed again
};

// Session operations are called from one thread, the front end's; only the
// observer's events come from the worker.
class CDownloadSession {
public:
    // `clock` may be null for the system clock, `port` for a CCommThread of
    // the session's own; given ones must outlive the session.
    explicit CDownloadSession(IRunObserver& observer, IClock* clock = nullptr, ISerialPort* port = nullptr);
    // Stops a run in progress (closes the port) and joins its worker before
    // the image or the port go away.
    ~CDownloadSession();
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    CDownloadImage& Image() { return m_image; }
    const CDownloadImage& Image() const { return m_image; }
    ISerialPort& Comm() { return m_comm; }

    // Which device the next open uses: a port number (COM1 = 1 ... COM50 =
    // 50, 0 = none selected) or a device path.
    void SelectPort(std::uint16_t port);
    void SelectDevice(const std::string& devicePath);
    std::uint16_t SelectedPort() const { return m_nPort; }
    // Which device each port number opens, for the session's own port (a
    // port given to the constructor resolves numbers itself). Call while no
    // run is active.
    void SetPortMap(CPortMap ports);

    // Opens the selected port and closes it again at once; false when it
    // does not open (Comm().LastOpenError() says why).
    bool TestSelectedPort();

    // Stores the chosen file and reads it once for its size.
    bool OpenFile(const std::filesystem::path& path, ImageError* error = nullptr);

    // Builds the frames from the chosen file, opens the port and starts the
    // worker. Returns at once. A finished or stopping worker of an earlier
    // run is joined first, so it never touches this run's data or port.
    StartResult OnDownload(ImageError* fileError = nullptr);

    // Starts a run over frames built elsewhere, reading no file: several
    // sessions can send one image side by side. `frames` must not be null and
    // must not change while the session holds it; the session keeps it alive
    // until its next start or its destruction, each of which joins the worker
    // first. Image() is left as it is. Never returns FileError.
    StartResult StartDownload(std::shared_ptr<const CDownloadImage> frames);

    // Closes the port if it is open; the worker ends at its next test of the
    // open flag, without a notice.
    void OnStop();

    // OnStop, then waits for the worker to return. Safe to call at any time,
    // also when no run is active; the worker never waits for the caller.
    void StopAndJoin();

    bool IsRunning() const;
    std::uint64_t CurrentRunId() const;
    // Frames of the latest start, from Image() or from the frames it was given.
    std::uint32_t FrameCount() const;

    // How the worker thread is started; the default constructs a std::thread.
    // A launcher that throws std::system_error stands for a system that
    // cannot start one more thread.
    using ThreadLauncher = std::function<std::thread(std::function<void()>)>;
    void SetThreadLauncher(ThreadLauncher launcher);

private:
    struct Worker;
    // Joins the worker of an earlier run, stopping it first if it is still
    // in its exchange, so that it never touches what the caller changes next.
    void EndPreviousRun();
    // Opens the selected port, closing it first if it is open; the caller
    // has ended the previous run.
    bool OpenSelectedPort();
    // Opens the port and starts a worker over `frames`, which outlive it.
    StartResult OpenAndStart(std::span<const CPacket> frames);

    IRunObserver& m_observer;
    IClock* m_clock;
    std::unique_ptr<IClock> m_systemClock;
    std::unique_ptr<CCommThread> m_ownPort;
    ThreadLauncher m_launcher;
    std::atomic<std::uint64_t> m_runId{0};
    CDownloadImage m_image;
    std::shared_ptr<const CDownloadImage> m_sharedFrames;  // set by StartDownload only
    ISerialPort& m_comm;
    std::uint16_t m_nPort = 0;
    std::string m_devicePath;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace veltrad
