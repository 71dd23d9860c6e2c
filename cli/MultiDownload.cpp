#include "cli/MultiDownload.h"

#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/SettingsPorts.h"
#include "cli/StopSignals.h"

#include "multiport/AdapterSerial.h"
#include "multiport/ExitStatus.h"
#include "multiport/Outcome.h"
#include "multiport/RunLog.h"
#include "multiport/SharedImage.h"

#include "download/PortRun.h"
#include "base/Utf8Path.h"
#include "serial/PortIdentity.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace veltrad::cli {

namespace {

// How often the live lines are redrawn and a stop signal is looked for.
constexpr std::chrono::milliseconds kTick{100};

// Two spellings of one port ("COM7" and "com7", a COM name and the device it
// maps to, a link and its target, "COM3:" and "\\.\COM3") name the same device.
std::string SameDeviceKey(const std::string& port, const std::string& device)
{
    if (device.empty())
        return "COM" + std::to_string(ParseComName(port).value_or(0));
    return DeviceIdentity(device);
}

// Everything that makes a run impossible before any port is touched.
std::optional<std::string> CheckPorts(const std::vector<std::string>& ports, const std::vector<std::string>& devices)
{
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto [where, added] = seen.emplace(SameDeviceKey(ports[i], devices[i]), i);
        if (!added) {
            const std::string& first = ports[where->second];
            return first == ports[i] ? "port " + ports[i] + " given twice"
                                     : "ports " + first + " and " + ports[i] + " are the same device";
        }
    }
    return std::nullopt;
}

// The runs' events, collected from their workers for the main thread,
// which waits here between redraws.
class CRunBoard final : public IRunListener {
public:
    struct State {
        std::uint32_t acknowledged = 0;
        std::optional<RunEvent> end;
    };

    void OnRunEvent(const RunEvent& event) override
    {
        const bool ended = event.kind == RunEvent::Kind::Ended;
        {
            const std::lock_guard lock(m_mutex);
            State& state = m_runs[event.runId];
            state.acknowledged = event.acknowledged;
            if (ended) {
                state.end = event;
                ++m_ends;
            }
        }
        if (ended)
            m_changed.notify_all();
    }

    State Of(std::uint64_t runId) const
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_runs.find(runId);
        return it == m_runs.end() ? State{} : it->second;
    }

    // Returns when a run ended after those `seen` counts, or after
    // `timeout`; updates `seen`.
    void WaitPast(std::uint64_t& seen, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return m_ends != seen; });
        seen = m_ends;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::uint64_t, State> m_runs;
    std::uint64_t m_ends = 0;
};

// One --port: its run, and its result once it has one.
struct Port {
    PortChoice choice;
    std::unique_ptr<CPortRun> run;
    std::chrono::steady_clock::time_point started;
    std::optional<PortResult> result;
    bool ran = false;
    bool said = false;  // its end was shown and logged
};

// The run log behind --log: a line that cannot be written is kept for the
// next one and the end, each new cause said once, and the downloads go on.
class CLogWriter {
public:
    CLogWriter(CRunLog* log, ImageFacts image) : m_log(log), m_image(std::move(image)) {}

    void Write(const PortResult& result)
    {
        if (m_log == nullptr)
            return;
        const LogEntry entry{std::chrono::system_clock::now(), result, AdapterSerialNumber(result.device), m_image};
        const RecordStatus status = m_log->Append(entry);
        if (status.error && status.error->fault != m_logFault) {
            WriteText(stderr, "veltrad-cli: cannot write the log now: " + status.error->Message() +
                                  "; the line is kept and tried again\n");
        }
        m_logFault = status.error ? status.error->fault : RecordFault::None;
    }

    // After the runs: the kept lines once more; those still not written go
    // to stderr. False when some line did not reach the log.
    bool Finish() const
    {
        if (m_log == nullptr || m_log->Pending() == 0)
            return true;
        const RecordStatus status = m_log->Flush();
        if (status.pending == 0)
            return true;
        const std::string why = status.error ? status.error->Message() : std::string("the log");
        const std::string lines = status.pending == 1 ? "1 log line" : std::to_string(status.pending) + " log lines";
        WriteText(stderr, "veltrad-cli: " + lines + " could not be written (" + why + "); here they are:\n" +
                              m_log->PendingText());
        return false;
    }

private:
    CRunLog* m_log;
    ImageFacts m_image;
    RecordFault m_logFault = RecordFault::None;  // the cause last said
};

// Refuses the download before anything was read or opened.
int Refuse(const DownloadOptions& options, const std::string& why)
{
    WriteText(stderr, "veltrad-cli: " + why + "\n");
    if (options.json) {
        WriteText(stdout, ErrorJson(why) + "\n");
        std::fflush(stdout);
    }
    return kExitUsage;
}

// The status of the first port, in the order given, that did not complete.
int FirstFailure(const std::vector<PortReport>& ports)
{
    for (const PortReport& port : ports) {
        if (!port.result.Completed())
            return port.result.Status();
    }
    return kExitOk;
}

PortLine LineOf(const Port& port, const CRunBoard& board, bool stopping, std::uint32_t frames)
{
    // A device given by its path is not shown twice.
    const PortChoice& c = port.choice;
    PortLine line{
        c.name, c.device == c.name ? std::string() : c.device, 0, frames, 0.0, stopping ? "stopping" : "sending"};
    if (port.result) {
        line.acknowledged = port.result->stats.acknowledged;
        line.seconds = port.result->stats.seconds;
        line.state = OutcomeName(port.result->outcome);
    } else {
        line.acknowledged = board.Of(port.run->RunId()).acknowledged;
        line.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - port.started).count();
    }
    return line;
}

}  // namespace

int RunDownload(const DownloadOptions& options)
{
    // From here a signal stops the program by its own steps: first the
    // reading of the file, then the runs.
    CStopSignals signals;
    const std::unique_ptr<IDownloadView> view = MakeDownloadView(options);
    const CPortMap map = ReadPortMap(CProfile(CProfile::DefaultPath()));
    CRunBoard board;  // outlives the runs, which report to it
    std::vector<Port> ports(options.ports.size());
    std::vector<std::string> devices;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        ports[i].choice = ChoosePort(options.ports[i], map);
        devices.push_back(ports[i].choice.device);
    }
    if (const auto problem = CheckPorts(options.ports, devices))
        return Refuse(options, *problem);
    std::unique_ptr<CRunLog> log;
    if (!options.logFile.empty()) {
        RecordError error;
        if (!(log = CRunLog::Open(PathFromUtf8(options.logFile), error)))
            return Refuse(options, "cannot open the log: " + error.Message());
    }

    // Read and framed once; every run only reads the frames.
    ImageError fileError;
    SharedImage shared = ReadSharedImage(
        PathFromUtf8(options.file), [&signals] { return signals.Raised(); }, log != nullptr, fileError);
    CLogWriter logWriter(log.get(), shared.facts);
    // A download that sent nothing: one reason on stderr, the same outcome for every port.
    const auto endWithoutRun = [&](RunOutcome outcome, const std::string& why, std::uint32_t frames) {
        WriteText(stderr, "veltrad-cli: " + why + "\n");
        std::vector<PortReport> reports;
        for (const Port& port : ports) {
            reports.push_back({UnstartedResult(port.choice.name, port.choice.device, outcome, why, frames), false, {}});
            logWriter.Write(reports.back().result);
        }
        view->Final(reports, false);
        logWriter.Finish();  // the status says a failure already
        return reports.front().result.Status();
    };
    if (!shared.image) {
        if (fileError.stopped) {
            const char* which = options.SinglePort() ? "the port was not opened" : "no port was opened";
            return endWithoutRun(RunOutcome::Stopped, "stopped while reading " + options.file + "; " + which, 0);
        }
        return endWithoutRun(RunOutcome::FileError, "cannot read the image: " + fileError.Message(), 0);
    }
    if (log && shared.facts.sha256.empty())
        WriteText(stderr, "veltrad-cli: no SHA-256 for the log: the system's SHA-256 is not available\n");
    const auto frames = static_cast<std::uint32_t>(shared.image->m_FrameList.size());
    if (frames == 0)
        return endWithoutRun(RunOutcome::NothingToSend, "nothing to send: " + options.file + " holds no non-zero byte",
                             0);
    if (signals.Raised())
        return endWithoutRun(RunOutcome::Stopped, "stopped before any port was opened", frames);

    for (Port& port : ports) {
        port.run =
            std::make_unique<CPortRun>(board, PortRunSetup{nullptr, nullptr, map, StartWithoutStopSignals, true});
        port.run->Select(port.choice);
    }
    for (Port& port : ports) {
        port.started = std::chrono::steady_clock::now();
        if (const auto unstarted = port.run->Start(shared.image)) {
            port.result = StartFailure(port.choice.name, port.choice.device, *unstarted, port.run->OpenError(), frames);
        }
    }

    bool stopping = false;
    std::uint64_t seen = 0;
    for (;;) {
        if (signals.Raised() && !stopping) {
            for (Port& port : ports)
                port.run->Stop();
            stopping = true;
        }
        bool allEnded = true;
        std::vector<PortLine> lines;
        for (Port& port : ports) {
            if (!port.result) {
                if (const auto end = board.Of(port.run->RunId()).end) {
                    port.result = RunResult(port.choice.name, port.choice.device, end->outcome, end->stats);
                    port.ran = true;
                }
            }
            if (port.result && !port.said) {
                port.said = true;
                view->Ended(*port.result, port.ran);
                logWriter.Write(*port.result);
            }
            allEnded = allEnded && port.result;
            lines.push_back(LineOf(port, board, stopping, frames));
        }
        view->Draw(lines);
        if (allEnded)
            break;
        board.WaitPast(seen, kTick);
    }

    std::vector<PortReport> reports;
    for (Port& port : ports) {
        port.run->StopAndJoin();
        reports.push_back({*port.result, port.ran, port.run->Comm().Adapter()});
    }
    view->Final(reports, true);
    const bool logged = logWriter.Finish();
    // A record that did not reach the log fails the command as a result that
    // stdout did not take does; a run's own failure stays its status.
    const int status = FirstFailure(reports);
    return status != kExitOk || logged ? status : kExitUsage;
}

}  // namespace veltrad::cli
