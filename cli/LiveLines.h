#pragma once
// What `veltrad-cli download` shows while it loads several terminals: on a
// terminal, one line per port redrawn in place; on a pipe, one timestamped
// line per port as its run ends.

#include "multiport/PortResult.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace veltrad::cli {

// One port's progress as it is shown while the runs go on.
struct PortLine {
    std::string port;
    std::string device;  // empty when it would only repeat the port
    std::uint32_t acknowledged = 0;
    std::uint32_t frames = 0;
    double seconds = 0.0;  // the run's time so far, or its length once it ended
    std::string state;     // "sending", "stopping", or the outcome's name
};

// Port, device, frames done of total, percent, rate and state, in aligned
// columns; each line cut to `columns` - 1 characters when `columns` > 0, so
// that none wraps.
std::vector<std::string> FormatPortLines(const std::vector<PortLine>& lines, int columns);

// Draws the lines on `out` and, on each later call, moves back up over them
// and draws them again.
class CLiveLines {
public:
    CLiveLines(std::FILE* out, int columns) : m_out(out), m_columns(columns) {}
    void Draw(const std::vector<PortLine>& lines);

private:
    std::FILE* m_out;
    int m_columns;
    std::size_t m_drawn = 0;
};

// A single port's progress: bar, frames, bytes, rate and time left. When
// `columns` > 0 the line is fitted to `columns` - 1 characters, so that it
// never wraps: the bar goes first, then the line is cut.
std::string ProgressLine(std::uint32_t acknowledged, std::uint32_t frames, double seconds, int columns);

// "2025-01-02 10:22:33  COM7 (/dev/ttyUSB0): <the outcome in words>", in local time.
std::string EndLine(std::chrono::system_clock::time_point time, const PortResult& result);

}  // namespace veltrad::cli
