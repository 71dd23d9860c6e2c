#include "cli/MultiDownload.h"

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/LiveLines.h"
#include "cli/SettingsPorts.h"
#include "cli/StopSignals.h"

#include "multiport/AdapterSerial.h"
#include "multiport/PortRun.h"
#include "multiport/RunLog.h"
#include "multiport/SharedImage.h"

#include "base/Utf8Path.h"
#include "serial/PortIdentity.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace veltrad::cli {

namespace {

// How often the live lines are redrawn and a stop signal is looked for.
constexpr std::chrono::milliseconds kTick{100};

// The device a port names, as the open will resolve it; empty when none.
std::string DeviceOf(const std::string& port, const CPortMap& ports)
{
    if (const auto number = ParseComName(port))
        return ports.Device(*number).value_or(std::string());
    return port;
}

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

// " --name value", or " --name=value" for a value that would read as an option.
std::string OptionArgument(const char* name, const std::string& value)
{
    if (value.starts_with('-'))
        return std::string(" ") + QuoteArgument(name + ("=" + value));
    return std::string(" ") + name + " " + QuoteArgument(value);
}

}  // namespace

std::string RetryCommand(const MultiDownloadOptions& options, const std::vector<PortResult>& results)
{
    std::string command = "veltrad-cli download";
    if (options.json)
        command += " --json";
    if (!options.logFile.empty())
        command += OptionArgument("--log", options.logFile);
    for (const PortResult& r : results) {
        if (!r.Completed())
            command += OptionArgument("--port", r.port);
    }
    // "--" ends the options, so that a name like "-image.bin" stays the file.
    const bool dashed = options.file.starts_with('-');
    return command + (dashed ? " -- " : " ") + QuoteArgument(options.file);
}

namespace {

class CReport {
public:
    CReport(const MultiDownloadOptions& options, CRunLog* log, ImageFacts image)
        : m_options(options), m_log(log), m_image(std::move(image))
    {
    }

    // Appends the port's line to the run log; a log that cannot be written
    // is said once and the downloads go on.
    void Log(const PortResult& result)
    {
        if (m_log == nullptr)
            return;
        std::string error;
        const LogEntry entry{std::chrono::system_clock::now(), result, AdapterSerialNumber(result.device), m_image};
        if (!m_log->Append(entry, error) && !m_logFailed) {
            WriteText(stderr, "veltrad-cli: cannot write the log: " + error + "\n");
            m_logFailed = true;
        }
    }

    // The results of every port: the JSON array, or the summary in words;
    // then the command for the failed ports when the image went out at all.
    void Final(const std::vector<PortResult>& results, bool ran) const
    {
        const auto failed = std::count_if(results.begin(), results.end(), [](const auto& r) { return !r.Completed(); });
        if (m_options.json) {
            // One port (with --log) has the single run's object, several an array.
            const std::string json =
                results.size() == 1 ? RunJson(results.front().outcome, results.front().stats) : JsonArray(results);
            WriteText(stdout, json + "\n");
        } else if (ran) {
            std::printf("%zu of %zu terminals completed\n", results.size() - static_cast<std::size_t>(failed),
                        results.size());
            for (const PortResult& r : results) {
                if (!r.Completed())
                    WriteText(stdout, "  " + Where(r) + ": " + r.words + "\n");
            }
        }
        std::fflush(stdout);
        if (ran && failed > 0) {
            std::FILE* out = m_options.json ? stderr : stdout;
            WriteText(out, "to load the failed terminals again:\n  " + RetryCommand(m_options, results) + "\n");
            std::fflush(out);
        }
    }

private:
    static std::string Where(const PortResult& r)
    {
        return r.device.empty() || r.device == r.port ? r.port : r.port + " (" + r.device + ")";
    }

    const MultiDownloadOptions& m_options;
    CRunLog* m_log;
    ImageFacts m_image;
    bool m_logFailed = false;
};

// Ends a download that sent nothing: one reason on stderr, the same outcome
// for every port.
int EndWithoutRun(const MultiDownloadOptions& options, const std::vector<std::string>& devices, CReport& report,
                  RunOutcome outcome, const std::string& why, std::uint32_t frames)
{
    WriteText(stderr, "veltrad-cli: " + why + "\n");
    std::vector<PortResult> results;
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        results.push_back(UnstartedResult(options.ports[i], devices[i], outcome, why, frames));
        report.Log(results.back());
    }
    report.Final(results, false);
    return results.front().Status();
}

}  // namespace

int RunMultiDownload(const MultiDownloadOptions& options)
{
    const CPortMap ports = ReadPortMap(CProfile(CProfile::DefaultPath()));
    std::vector<std::string> devices;
    for (const std::string& port : options.ports)
        devices.push_back(DeviceOf(port, ports));
    if (const auto problem = CheckPorts(options.ports, devices)) {
        WriteText(stderr, "veltrad-cli: " + *problem + "\n");
        return kExitUsage;
    }
    std::unique_ptr<CRunLog> log;
    if (!options.logFile.empty()) {
        std::string error;
        if (!(log = CRunLog::Open(PathFromUtf8(options.logFile), error))) {
            WriteText(stderr, "veltrad-cli: cannot open the log: " + error + "\n");
            return kExitUsage;
        }
    }

    // From here a signal stops the reading of the file, then the runs.
    CStopSignals signals;
    // Read and framed once; every run only reads the frames.
    ImageError fileError;
    SharedImage shared = ReadSharedImage(
        PathFromUtf8(options.file), [&signals] { return signals.Raised(); }, log != nullptr, fileError);
    CReport report(options, log.get(), shared.facts);
    if (!shared.image) {
        if (fileError.stopped) {
            return EndWithoutRun(options, devices, report, RunOutcome::Stopped,
                                 "stopped while reading " + options.file + "; no port was opened", 0);
        }
        return EndWithoutRun(options, devices, report, RunOutcome::FileError,
                             "cannot read the image: " + fileError.Message(), 0);
    }
    if (log && shared.facts.sha256.empty())
        WriteText(stderr, "veltrad-cli: no SHA-256 for the log: the system's SHA-256 is not available\n");
    const auto frames = static_cast<std::uint32_t>(shared.image->m_FrameList.size());
    if (frames == 0) {
        return EndWithoutRun(options, devices, report, RunOutcome::NothingToSend,
                             "nothing to send: " + options.file + " holds no non-zero byte", 0);
    }
    if (signals.Raised())
        return EndWithoutRun(options, devices, report, RunOutcome::Stopped, "stopped before any port was opened",
                             frames);

    CEndSignal ended;
    std::vector<std::unique_ptr<CPortRun>> runs;
    for (std::size_t i = 0; i < options.ports.size(); ++i)
        runs.push_back(std::make_unique<CPortRun>(options.ports[i], devices[i], ports, ended, StartWithoutStopSignals));
    for (auto& run : runs)
        run->Start(shared.image);

    const bool live = StderrIsTerminal() && EnableCursorMovement();
    CLiveLines lines(stderr, StderrColumns());
    std::vector<bool> reported(runs.size(), false);
    bool stopping = false;
    std::uint64_t seen = 0;
    for (;;) {
        if (signals.Raised() && !stopping) {
            for (auto& run : runs)
                run->Stop();
            stopping = true;
        }
        bool allEnded = true;
        std::vector<PortLine> view;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const auto result = runs[i]->Result();
            allEnded = allEnded && result.has_value();
            if (result && !reported[i]) {
                reported[i] = true;
                if (!live) {
                    WriteText(stderr, EndLine(std::chrono::system_clock::now(), *result) + "\n");
                    std::fflush(stderr);
                }
                report.Log(*result);
            }
            view.push_back(runs[i]->Line(stopping));
        }
        if (live)
            lines.Draw(view);
        if (allEnded)
            break;
        ended.WaitPast(seen, kTick);
    }

    std::vector<PortResult> results;
    for (auto& run : runs) {
        run->Join();
        results.push_back(*run->Result());
    }
    report.Final(results, true);
    for (const PortResult& r : results) {
        if (!r.Completed())
            return r.Status();
    }
    return 0;
}

}  // namespace veltrad::cli
