#include "cli/DownloadViews.h"

#include "cli/AdapterHints.h"
#include "cli/Console.h"
#include "cli/Json.h"

#include "multiport/Outcome.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace veltrad::cli {

namespace {

// " --name value", or " --name=value" for a value that would read as an option.
std::string OptionArgument(const char* name, const std::string& value)
{
    if (value.starts_with('-'))
        return std::string(" ") + QuoteArgument(name + ("=" + value));
    return std::string(" ") + name + " " + QuoteArgument(value);
}

// The bar of a single run, redrawn in place on stderr when it is a terminal.
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
        m_width = 0;
    }
    void Disable() { m_enabled = false; }

private:
    bool m_enabled;
    std::size_t m_width = 0;
};

class CSinglePortView final : public IDownloadView {
public:
    explicit CSinglePortView(bool json) : m_json(json), m_bar(StderrIsTerminal()) {}

    void Draw(const std::vector<PortLine>& lines) override
    {
        const PortLine& line = lines.front();
        m_bar.Draw(line.acknowledged, line.frames, line.seconds);
    }

    void Ended(const PortResult& result, bool ran) override
    {
        m_bar.Clear();
        m_bar.Disable();
        if (!ran)
            WriteText(stderr, "veltrad-cli: " + result.words + "\n");
    }

    void Final(const std::vector<PortReport>& ports, bool imageSent) override
    {
        const PortReport& port = ports.front();
        const PortResult& r = port.result;
        const bool ran = imageSent && port.ran;
        if (m_json)
            WriteText(stdout, RunJson(r.outcome, r.stats) + "\n");
        else if (ran)
            WriteText(stdout, r.words + ReplyTimesText(r.stats) + "\n");
        std::fflush(stdout);
        if (!ran)
            return;
        for (const std::string& hint : AdapterHints(r.stats, port.adapter))
            WriteText(stderr, hint + "\n");
    }

private:
    bool m_json;
    CProgressBar m_bar;
};

class CPortsView final : public IDownloadView {
public:
    explicit CPortsView(const DownloadOptions& options)
        : m_options(options), m_live(StderrIsTerminal() && EnableCursorMovement()), m_lines(stderr, StderrColumns())
    {
    }

    void Draw(const std::vector<PortLine>& lines) override
    {
        if (m_live)
            m_lines.Draw(lines);
    }

    void Ended(const PortResult& result, bool) override
    {
        if (m_live)
            return;
        WriteText(stderr, EndLine(std::chrono::system_clock::now(), result) + "\n");
        std::fflush(stderr);
    }

    void Final(const std::vector<PortReport>& ports, bool imageSent) override
    {
        std::vector<PortResult> results;
        for (const PortReport& port : ports)
            results.push_back(port.result);
        const auto failed = std::count_if(results.begin(), results.end(), [](const auto& r) { return !r.Completed(); });
        if (m_options.json) {
            // One port (with --log) has the single run's object, several an array.
            const std::string json =
                results.size() == 1 ? RunJson(results.front().outcome, results.front().stats) : JsonArray(results);
            WriteText(stdout, json + "\n");
        } else if (imageSent) {
            std::printf("%zu of %zu terminals completed\n", results.size() - static_cast<std::size_t>(failed),
                        results.size());
            for (const PortResult& r : results) {
                if (!r.Completed())
                    WriteText(stdout, "  " + Where(r) + ": " + r.words + "\n");
            }
        }
        std::fflush(stdout);
        if (imageSent && failed > 0) {
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

    const DownloadOptions& m_options;
    const bool m_live;
    CLiveLines m_lines;
};

}  // namespace

std::unique_ptr<IDownloadView> MakeDownloadView(const DownloadOptions& options)
{
    if (options.SinglePort())
        return std::make_unique<CSinglePortView>(options.json);
    return std::make_unique<CPortsView>(options);
}

std::string RetryCommand(const DownloadOptions& options, const std::vector<PortResult>& results)
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

}  // namespace veltrad::cli
