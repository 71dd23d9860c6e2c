// What veltrad-cli says about reply times and the adapter: the figures, and
// which hint lines appear for which adapter, at the thresholds.

#include "cli/AdapterHints.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrad::cli {
namespace {

RunStats Replies(double median, std::uint32_t count = 100)
{
    RunStats stats;
    stats.replies = count;
    stats.replyMsMedian = median;
    stats.replyMsP95 = median + 1.0;
    return stats;
}

AdapterInfo Adapter(const char* driver, std::optional<int> timer, bool granted = false)
{
    AdapterInfo info;
    info.driver = driver;
    info.latencyTimerMs = timer;
    info.lowLatencyGranted = granted;
    return info;
}

TEST(AdapterHints, LinesForSlowRepliesAndHighTimersNameTheFixWhereTheAdapterIsKnown)
{
    const std::string udev = "ATTR{latency_timer}=\"1\"";
    const std::string deviceManager = "Device Manager";
    struct Case {
        const char* name;
        RunStats stats;
        AdapterInfo adapter;
        std::vector<std::vector<std::string>> lines;  // words each hint line holds, in order
        std::vector<std::string> absent;              // words no line holds
    };
    // clang-format off
    const Case cases[] = {
        {"FastPty", Replies(0.2), Adapter("", std::nullopt), {}, {}},
        {"MedianExactly8", Replies(8.0), Adapter("", std::nullopt), {}, {}},
        {"NoReplies", Replies(0.0, 0), Adapter("", std::nullopt), {}, {}},
        {"SlowUnknownAdapter", Replies(15.9), Adapter("", std::nullopt),
         {{"15.90 ms", "the adapter or the terminal"}}, {udev, deviceManager}},
        {"FtdiNotLowered", Replies(15.9), Adapter("ftdi_sio", 16),
         {{"16 ms", "DRIVER==\"ftdi_sio\"", udev}, {"15.90 ms", "likely cause"}}, {deviceManager}},
        {"FtdiTimer3FastReplies", Replies(1.2), Adapter("ftdi_sio", 3), {{"3 ms", udev}}, {}},
        {"FtdiTimer2", Replies(1.2), Adapter("ftdi_sio", 2, true), {}, {}},
        {"LoweredButSlowTerminal", Replies(9.0), Adapter("ftdi_sio", 1, true),
         {{"9.00 ms", "ftdi_sio", "latency timer 1 ms"}}, {udev}},
        {"Ch340Slow", Replies(9.0), Adapter("ch341-uart", std::nullopt), {{"9.00 ms", "ch341-uart"}}, {udev}},
        {"WindowsFtdi", Replies(12.0), Adapter("FTDIBUS", 16),
         {{"16 ms", deviceManager}, {"12.00 ms", "likely cause"}}, {udev}},
        {"WindowsFtdiWithoutTimerValue", Replies(12.0), Adapter("FTDIBUS", std::nullopt),
         {{"12.00 ms", deviceManager}}, {udev}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> hints = AdapterHints(c.stats, c.adapter);
        ASSERT_EQ(hints.size(), c.lines.size());
        for (std::size_t i = 0; i < hints.size(); ++i) {
            EXPECT_EQ(hints[i].rfind("hint: ", 0), 0u) << hints[i];
            EXPECT_EQ(hints[i].find('\n'), std::string::npos);
            for (const std::string& word : c.lines[i])
                EXPECT_NE(hints[i].find(word), std::string::npos) << hints[i] << "\nlacks: " << word;
            for (const std::string& word : c.absent)
                EXPECT_EQ(hints[i].find(word), std::string::npos) << hints[i];
        }
    }
}

TEST(AdapterHints, ReplyFiguresForTheFinalLineAndJson)
{
    RunStats stats;
    EXPECT_EQ(ReplyTimesText(stats), "");
    EXPECT_EQ(ReplyTimesJson(stats), ",\"reply_ms_median\":null,\"reply_ms_p95\":null");
    stats.replies = 3;
    stats.replyMsMedian = 0.214;
    stats.replyMsP95 = 15.5;
    EXPECT_EQ(ReplyTimesText(stats), "; replies 0.21 ms median, 15.50 ms 95th percentile");
    EXPECT_EQ(ReplyTimesJson(stats), ",\"reply_ms_median\":0.214,\"reply_ms_p95\":15.500");
}

}  // namespace
}  // namespace veltrad::cli
