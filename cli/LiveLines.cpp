#include "cli/LiveLines.h"

#include "cli/Console.h"

#include "image/Packet.h"

#include <algorithm>
#include <ctime>

namespace veltrad::cli {

namespace {

std::string Padded(const std::string& text, std::size_t width)
{
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string Format(const char* format, double a, double b = 0.0)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

std::string FormatDuration(double seconds)
{
    const long total = static_cast<long>(seconds + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return buffer;
}

}  // namespace

std::string ProgressLine(std::uint32_t acknowledged, std::uint32_t frames, double seconds, int columns)
{
    constexpr int kBarWidth = 24;  // characters between the brackets
    const double done = frames == 0 ? 1.0 : static_cast<double>(acknowledged) / frames;
    const int filled = static_cast<int>(done * kBarWidth);
    const std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
    std::string line = std::to_string(acknowledged) + "/" + std::to_string(frames) + " frames  ";
    const double bytes = static_cast<double>(acknowledged) * kBlockSize;
    const double totalBytes = static_cast<double>(frames) * kBlockSize;
    line += Format("%.1f/%.1f KiB  ", bytes / 1024.0, totalBytes / 1024.0);
    if (seconds > 0.0 && acknowledged > 0) {
        const double rate = bytes / seconds;
        line += Format("%.1f KiB/s  ", rate / 1024.0);
        line += FormatDuration((totalBytes - bytes) / rate) + " left";
    } else {
        line += "--.- KiB/s  -:--:-- left";
    }
    if (columns <= 0)
        return bar + line;
    const auto width = static_cast<std::size_t>(columns - 1);
    if (bar.size() + line.size() <= width)
        return bar + line;
    if (line.size() > width)
        line.resize(width);
    return line;
}

std::vector<std::string> FormatPortLines(const std::vector<PortLine>& lines, int columns)
{
    std::size_t portWidth = 0;
    std::size_t deviceWidth = 0;
    std::size_t framesWidth = 1;
    for (const PortLine& l : lines) {
        portWidth = std::max(portWidth, l.port.size());
        deviceWidth = std::max(deviceWidth, l.device.size());
        framesWidth = std::max(framesWidth, std::to_string(l.frames).size());
    }
    std::vector<std::string> out;
    for (const PortLine& l : lines) {
        const double percent = l.frames == 0 ? 0.0 : 100.0 * l.acknowledged / l.frames;
        const double kibPerSecond =
            l.seconds > 0.0 ? static_cast<double>(l.acknowledged) * kBlockSize / 1024.0 / l.seconds : 0.0;
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, "%*u/%-*u %5.1f%% %7.1f KiB/s  ", static_cast<int>(framesWidth),
                      static_cast<unsigned>(l.acknowledged), static_cast<int>(framesWidth),
                      static_cast<unsigned>(l.frames), percent, kibPerSecond);
        std::string line = Padded(l.port, portWidth) + "  " + Padded(l.device, deviceWidth) + "  " + numbers + l.state;
        if (columns > 0 && line.size() >= static_cast<std::size_t>(columns))
            line.resize(static_cast<std::size_t>(columns) - 1);
        out.push_back(std::move(line));
    }
    return out;
}

void CLiveLines::Draw(const std::vector<PortLine>& lines)
{
    std::string text;
    if (m_drawn > 0)
        text += "\x1b[" + std::to_string(m_drawn) + "A";  // back up to the first line
    for (const std::string& line : FormatPortLines(lines, m_columns))
        text += "\r" + line + "\x1b[K\n";  // the rest of an older, longer line goes
    WriteText(m_out, text);
    std::fflush(m_out);
    m_drawn = lines.size();
}

std::string EndLine(std::chrono::system_clock::time_point time, const PortResult& result)
{
    const std::tm tm = LocalTime(std::chrono::system_clock::to_time_t(time));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::string where = result.port;
    if (!result.device.empty() && result.device != result.port)
        where += " (" + result.device + ")";
    return std::string(stamp) + "  " + where + ": " + result.words;
}

}  // namespace veltrad::cli
