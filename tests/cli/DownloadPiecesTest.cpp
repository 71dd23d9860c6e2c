// The download command's texts, checked character by character: its JSON,
// the live lines and the progress bar, the retry command.

#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/LiveLines.h"
#include "cli/MultiDownload.h"
#include "multiport/PortResult.h"

#include <gtest/gtest.h>

namespace veltrad::cli {
namespace {

// A single run's object: the two reasons a silent-looking end is not the
// terminal's, and reply times only when there were replies.
TEST(Json, SingleRunFlagsAndReplyTimes)
{
    RunStats stats;
    stats.frames = 3;
    stats.acknowledged = 1;
    stats.seconds = 5.5;
    const std::string head = R"({"outcome":"timed-out-after-ack","frames":3,"acknowledged":1,"resends":0,)"
                             R"("seconds":5.500,)";
    EXPECT_EQ(RunJson(RunOutcome::TimedOutAfterAck, stats),
              head + R"("held_by_xoff":false,"port_gone":false,"reply_ms_median":null,"reply_ms_p95":null})");
    stats.lastWriteCutShort = true;
    stats.portGone = true;
    stats.replies = 1;
    stats.replyMsMedian = stats.replyMsP95 = 0.25;
    EXPECT_EQ(RunJson(RunOutcome::TimedOutAfterAck, stats),
              head + R"("held_by_xoff":true,"port_gone":true,"reply_ms_median":0.250,"reply_ms_p95":0.250})");
}

// Every byte that is no well-formed UTF-8 is escaped, so the text stays JSON.
TEST(Json, StringsAreEscapedAndEachObjectHasTheSingleRunsFields)
{
    const std::pair<std::string, std::string> strings[] = {
        {"COM7", R"("COM7")"},
        {R"(\\.\COM10)", R"("\\\\.\\COM10")"},
        {"a\"b\n\x01", R"("a\"b\u000a\u0001")"},
        {"\xED\x8F\xAC\xED\x8A\xB8", "\"\xED\x8F\xAC\xED\x8A\xB8\""},  // UTF-8 passes through
        {"\xF0\x9F\x98\x80\x7F", "\"\xF0\x9F\x98\x80\\u007f\""},       // up to four bytes; DEL
        {"\x1B[2J\x07\xC2\x9B", R"("\u001b[2J\u0007\u009b")"},         // ESC, BEL, the C1 CSI
        {"/dev/tty\xFF", R"("/dev/tty\u00ff")"},
        {"\xC3", R"("\u00c3")"},                                // cut short at the end
        {"\xC3(", R"("\u00c3(")"},                              // cut short by another character
        {"\xC0\xAF", R"("\u00c0\u00af")"},                      // overlong
        {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},            // a surrogate
        {"\xF4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},  // beyond U+10FFFF
        {"\x80\xE2\x82\xAC", "\"\\u0080\xE2\x82\xAC\""},        // a stray continuation byte
    };
    for (const auto& [value, json] : strings)
        EXPECT_EQ(JsonString(value), json) << ::testing::PrintToString(value);
    // For a terminal the same, without JSON's quotes.
    EXPECT_EQ(TerminalText("USB \"x\"\\\x1B]0;\x07\xC2\x9B\xC3\xA9"), R"(USB "x"\\u001b]0;\u0007\u009b)"
                                                                      "\xC3\xA9");

    RunStats stats;
    stats.frames = 9;
    stats.acknowledged = 4;
    stats.resends = 2;
    stats.seconds = 1.25;
    stats.portGone = true;
    PortResult result = RunResult("COM3", "/dev/ttyUSB2", RunOutcome::TimedOutAfterAck, stats);
    EXPECT_EQ(result.Status(), 4);
    const std::string fields = R"("outcome":"timed-out-after-ack","frames":9,"acknowledged":4,"resends":2,)"
                               R"("seconds":1.250,"held_by_xoff":false,"port_gone":true,)";
    EXPECT_EQ(JsonObject(result),
              R"({"port":"COM3","device":"/dev/ttyUSB2",)" + fields + R"("reply_ms_median":null,"reply_ms_p95":null})");
    result.stats.replies = 9;
    result.stats.replyMsMedian = 11.8;
    result.stats.replyMsP95 = 12.25;
    const std::string measured = fields + R"("reply_ms_median":11.800,"reply_ms_p95":12.250})";
    EXPECT_EQ(RunJson(RunOutcome::TimedOutAfterAck, result.stats), "{" + measured);
    EXPECT_EQ(JsonArray({result, result}), R"([{"port":"COM3","device":"/dev/ttyUSB2",)" + measured +
                                               R"(,{"port":"COM3","device":"/dev/ttyUSB2",)" + measured + "]");
}

TEST(LiveLines, ColumnsLineUpAndNoLineWraps)
{
    const std::vector<PortLine> lines = {
        {"COM3", "/dev/ttyUSB0", 5, 1000, 1.0, "sending"},
        {"/dev/ttyACM12", "", 1000, 1000, 10.0, "completed"},
    };
    const auto wide = FormatPortLines(lines, 0);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0], "COM3           /dev/ttyUSB0     5/1000   0.5%     0.6 KiB/s  sending");
    EXPECT_EQ(wide[1], "/dev/ttyACM12                1000/1000 100.0%    12.5 KiB/s  completed");
    for (const std::string& line : FormatPortLines(lines, 40))
        EXPECT_EQ(line.size(), 39u);
}

// A line that wraps adds a line at each redraw: the bar goes first, then the
// line is cut to one less than the width.
TEST(ProgressLine, TheLineFitsTheTerminal)
{
    const std::string full = "[######..................] 250/1000 frames  31.2/125.0 KiB  15.6 KiB/s  0:00:06 left";
    const std::string bare = "250/1000 frames  31.2/125.0 KiB  15.6 KiB/s  0:00:06 left";
    const std::pair<int, std::string> cases[] = {
        {0, full},                                  // not a terminal's width
        {static_cast<int>(full.size()) + 1, full},  // just fits
        {static_cast<int>(full.size()), bare},
        {40, bare.substr(0, 39)},
        {1, ""},
    };
    for (const auto& [columns, line] : cases)
        EXPECT_EQ(ProgressLine(250, 1000, 2.0, columns), line) << columns;
    EXPECT_EQ(ProgressLine(0, 10, 0.0, 0),
              "[........................] 0/10 frames  0.0/1.2 KiB  --.- KiB/s  -:--:-- left");
}

TEST(RetryCommand, ArgumentsAreQuotedOnlyWhenTheShellNeedsIt)
{
    EXPECT_EQ(QuoteArgument("/dev/serial/by-id/usb-FTDI_A10K-if00"), "/dev/serial/by-id/usb-FTDI_A10K-if00");
    EXPECT_EQ(QuoteArgument("my image.bin"), "'my image.bin'");
    EXPECT_EQ(QuoteArgument("it's"), "'it'\\''s'");
    EXPECT_EQ(QuoteArgument(""), "''");

    // Names that start with "-" stay what they are when the shell reads the
    // command back.
    const std::vector<PortResult> results = {UnstartedResult("-odd", "", RunOutcome::PortOpenFailed, "", 1),
                                             UnstartedResult("COM2", "", RunOutcome::Completed, "", 1)};
    EXPECT_EQ(RetryCommand({{}, "-image.bin", true, "runs.tsv"}, results),
              "veltrad-cli download --json --log runs.tsv --port=-odd -- -image.bin");
    EXPECT_EQ(RetryCommand({{}, "my image.bin", false, "-log"}, results),
              "veltrad-cli download --log=-log --port=-odd 'my image.bin'");
}

}  // namespace
}  // namespace veltrad::cli
