// `veltrad-cli download --port PORT FILE`: loads FILE into the terminal on
// PORT, the way the download button does, and says how it went.

#include "cli/AdapterHints.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/LiveLines.h"
#include "cli/MultiDownload.h"
#include "cli/SettingsPorts.h"
#include "cli/StopSignals.h"

#include "multiport/Outcome.h"

#include "download/DownloadSession.h"
#include "base/Utf8Path.h"
#include "download/RunObserver.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrad::cli {

namespace {

struct DownloadOptions {
    std::string port;
    std::string file;
    bool json = false;
    std::vector<std::string> ports;  // every --port, in order
    std::string logFile;
};

// Collects the run's events on the worker and hands the end to the main
// thread; never waits for it.
class CCliObserver final : public IRunObserver {
public:
    void OnProgressStep(std::uint64_t) override { m_acknowledged.fetch_add(1); }
    void OnRunEnded(std::uint64_t, RunOutcome outcome, const RunStats& stats) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_outcome = outcome;
            m_stats = stats;
        }
        m_ended.notify_all();
    }

    std::uint32_t Acknowledged() const { return m_acknowledged.load(); }

    // The outcome once the run has ended, nullopt when `wait` passed first.
    std::optional<std::pair<RunOutcome, RunStats>> WaitForEnd(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        if (!m_ended.wait_for(lock, wait, [this] { return m_outcome.has_value(); }))
            return std::nullopt;
        return std::make_pair(*m_outcome, m_stats);
    }

private:
    std::atomic<std::uint32_t> m_acknowledged{0};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::optional<RunOutcome> m_outcome;
    RunStats m_stats;
};

class CProgressBar {
public:
    explicit CProgressBar(bool enabled) : m_enabled(enabled) {}
    void Draw(std::uint32_t acknowledged, std::uint32_t frames, double seconds)
    {
        if (!m_enabled)
            return;
        // Asked at every redraw: a line that wraps would add a line each time.
        const int columns = StderrColumns();
        const std::string line = ProgressLine(acknowledged, frames, seconds, columns);
        m_width = std::max(m_width, line.size());
        if (columns > 0)
            m_width = std::min(m_width, static_cast<std::size_t>(columns - 1));
        std::fprintf(stderr, "\r%-*s", static_cast<int>(m_width), line.c_str());
        std::fflush(stderr);
    }
    void Clear()
    {
        if (!m_enabled || m_width == 0)
            return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_width), "");
        std::fflush(stderr);
    }

private:
    bool m_enabled;
    std::size_t m_width = 0;
};

void PrintJson(RunOutcome outcome, const RunStats& stats) { WriteText(stdout, RunJson(outcome, stats) + "\n"); }

// Ends a run that never started: one line on stderr, and the JSON object
// when it was asked for.
int EndWithoutRun(const DownloadOptions& options, RunOutcome outcome, const std::string& why, int status,
                  std::uint32_t frames = 0)
{
    WriteText(stderr, "veltrad-cli: " + why + "\n");
    if (options.json) {
        RunStats stats;
        stats.frames = frames;
        PrintJson(outcome, stats);
        std::fflush(stdout);
    }
    return status;
}

int RunDownload(const DownloadOptions& options)
{
    // From here a signal stops the program by its own steps: first the
    // reading of the file, then the run. Outlives the session, which asks it.
    CStopSignals signals;
    CCliObserver observer;
    CDownloadSession session(observer);
    session.SetThreadLauncher(StartWithoutStopSignals);
    session.SetPortMap(ReadPortMap(CProfile(CProfile::DefaultPath())));
    // No name, or a COM number outside the list (as typed, never wrapped to
    // 16 bits), names no device: port 0 stands in, whose open fails like any
    // missing port's, so the frames are still built first.
    const auto number = ParseComName(options.port);
    std::optional<PortError> refused;
    if (options.port.empty())
        refused = PortError{{}, PortErrorReason::NoPortGiven, 0, {}};
    else if (number && (*number < kFirstPort || *number > kLastPort))
        refused = PortError{options.port, PortErrorReason::PortNumberOutOfRange, 0, {}};
    if (refused)
        session.SelectPort(0);
    else if (number)
        session.SelectPort(*number);
    else
        session.SelectDevice(options.port);
    session.Image().SetFile(PathFromUtf8(options.file));

    session.Image().SetStopCheck([&signals] { return signals.Raised(); });
    ImageError fileError;
    switch (session.OnDownload(&fileError)) {
    case StartResult::Started: break;
    case StartResult::FileError:
        if (fileError.stopped) {
            return EndWithoutRun(options, RunOutcome::Stopped,
                                 "stopped while reading " + options.file + "; the port was not opened", kExitStopped);
        }
        return EndWithoutRun(options, RunOutcome::FileError, "cannot read the image: " + fileError.Message(),
                             kExitUsage);
    case StartResult::NothingToSend:
        return EndWithoutRun(options, RunOutcome::NothingToSend,
                             "nothing to send: " + options.file + " holds no non-zero byte", kExitNothingToSend);
    case StartResult::PortOpenFailed: {
        const PortError error = refused ? *refused : session.Comm().LastPortError();
        return EndWithoutRun(options, RunOutcome::PortOpenFailed, "cannot open the port: " + error.Message(),
                             kExitPortFailed, session.FrameCount());
    }
    case StartResult::ThreadFailed:
        return EndWithoutRun(options, RunOutcome::ThreadFailed,
                             "cannot start the transfer: the system refused a thread", kExitUsage,
                             session.FrameCount());
    }

    const std::uint32_t frames = session.FrameCount();
    const auto started = std::chrono::steady_clock::now();
    CProgressBar bar(StderrIsTerminal());
    bool stopRequested = false;
    std::optional<std::pair<RunOutcome, RunStats>> end;
    // Wakes a few times a second to draw the bar and to act on Ctrl-C.
    constexpr std::chrono::milliseconds kTick{100};
    while (!(end = observer.WaitForEnd(kTick))) {
        if (signals.Raised() && !stopRequested) {
            session.OnStop();
            stopRequested = true;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        bar.Draw(observer.Acknowledged(), frames, seconds);
    }
    bar.Clear();
    // Closes a port that a timed-out or refused run left open.
    session.StopAndJoin();

    const auto& [outcome, stats] = *end;
    if (options.json)
        PrintJson(outcome, stats);
    else
        WriteText(stdout, OutcomeWords(outcome, stats) + ReplyTimesText(stats) + "\n");
    std::fflush(stdout);
    for (const std::string& hint : AdapterHints(stats, session.Comm().Adapter()))
        WriteText(stderr, hint + "\n");
    return OutcomeStatus(outcome);
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<DownloadOptions>();
    CLI::App* cmd = app.add_subcommand("download", "Load FILE into the terminal on PORT");
    cmd->add_option("--port", options->ports,
                    "COM1 ... COM50, or a serial device path; repeat it to load several terminals at once "
                    "(exit status 0 when all complete, else that of the first port, in order, that did not)")
        ->required()
        ->allow_extra_args(false);
    cmd->add_option("FILE", options->file, "Image file")->required();
    cmd->add_flag("--json", options->json, "Print the result as one JSON object, an array of them for several ports");
    cmd->add_option("--log", options->logFile, "Append one line per port and run to this file");
    cmd->footer("Exit status: 0 completed, 1 bad arguments, unreadable file or a result that stdout did not take,\n"
                "2 port cannot be opened, 3 terminal silent before any acknowledgement, 4 silent after some,\n"
                "5 refused, 6 nothing to send, 130 stopped by Ctrl-C, a termination signal or a hang-up.");
    cmd->callback([options, &exitCode] {
        if (options->ports.size() == 1 && options->logFile.empty()) {
            options->port = options->ports.front();
            exitCode = RunDownload(*options);
        } else {
            exitCode = RunMultiDownload({options->ports, options->file, options->json, options->logFile});
        }
    });
}

}  // namespace veltrad::cli
