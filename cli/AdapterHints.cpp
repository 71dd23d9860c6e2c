#include "cli/AdapterHints.h"

#include <cstdio>

namespace veltrad::cli {

namespace {

// FTDI's own Windows driver; its latency timer is set per port in Device Manager.
constexpr char kWindowsFtdiDriver[] = "FTDIBUS";

std::string Ms(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", ms);
    return text;
}

// How to lower the adapter's latency timer, or empty where it has none that
// we know how to set.
std::string LatencyFix(const AdapterInfo& adapter)
{
    if (adapter.driver == kWindowsFtdiDriver)
        return "set it to 1 ms in Device Manager: the port's Properties, Port Settings, Advanced, Latency Timer";
    if (adapter.latencyTimerMs && !adapter.driver.empty())
        return "a udev rule sets it to 1 ms at every plug-in: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"" +
               adapter.driver + "\", ATTR{latency_timer}=\"1\" (in /etc/udev/rules.d/99-serial-latency.rules)";
    return {};
}

bool SlowTimer(const AdapterInfo& adapter)
{
    return adapter.latencyTimerMs && *adapter.latencyTimerMs > kMaxGoodLatencyTimerMs;
}

}  // namespace

std::string ReplyTimesText(const RunStats& stats)
{
    if (stats.replies == 0)
        return {};
    return "; replies " + Ms(stats.replyMsMedian) + " median, " + Ms(stats.replyMsP95) + " 95th percentile";
}

std::string ReplyTimesJson(const RunStats& stats)
{
    if (stats.replies == 0)
        return ",\"reply_ms_median\":null,\"reply_ms_p95\":null";
    char text[96];
    std::snprintf(text, sizeof text, ",\"reply_ms_median\":%.3f,\"reply_ms_p95\":%.3f", stats.replyMsMedian,
                  stats.replyMsP95);
    return text;
}

std::vector<std::string> AdapterHints(const RunStats& stats, const AdapterInfo& adapter)
{
    std::vector<std::string> hints;
    const std::string fix = LatencyFix(adapter);
    if (SlowTimer(adapter)) {
        std::string line = "hint: the adapter (" + adapter.driver + ") holds every reply up to its latency timer, " +
                           std::to_string(*adapter.latencyTimerMs) + " ms";
        if (!fix.empty())
            line += "; " + fix;
        hints.push_back(line);
    }
    if (stats.replies > 0 && stats.replyMsMedian > kSlowReplyMedianMs) {
        std::string line =
            "hint: replies took " + Ms(stats.replyMsMedian) + " (median): the adapter or the terminal delays them";
        if (SlowTimer(adapter))
            line += "; the latency timer above is the likely cause";
        else if (!fix.empty() && !adapter.latencyTimerMs)
            line += "; if the adapter's latency timer is above 1 ms, " + fix;
        else if (!adapter.driver.empty())
            line +=
                " (adapter driver " + adapter.driver +
                (adapter.latencyTimerMs ? ", latency timer " + std::to_string(*adapter.latencyTimerMs) + " ms" : "") +
                ")";
        hints.push_back(line);
    }
    return hints;
}

}  // namespace veltrad::cli
