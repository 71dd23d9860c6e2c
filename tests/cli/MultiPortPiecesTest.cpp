// The texts of a download to several terminals, checked character by
// character, and the lookup of a USB adapter's serial number on a made-up
// device tree.

#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/LiveLines.h"
#include "cli/MultiDownload.h"
#include "multiport/AdapterSerial.h"
#include "multiport/Outcome.h"
#include "multiport/PortResult.h"
#include "multiport/RunLog.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace veltrad::cli {
namespace {

namespace fs = std::filesystem;

TEST(OutcomeWords, NamesStatusesAndWhatSetsTheWordsApart)
{
    struct Case {
        RunOutcome outcome;
        bool portGone, cutShort;
        const char* name;
        int status;
        const char* words;
        std::uint32_t early = 0;  // replies dropped as too early for the line
    };
    const Case cases[] = {
        {RunOutcome::Completed, false, false, "completed", 0, "download complete: 9 frames acknowledged in 1.25 s"},
        {RunOutcome::TimedOut, false, false, "timed-out", 3,
         "communication error: the terminal did not answer the first frame within 5 s"},
        {RunOutcome::TimedOutAfterAck, false, false, "timed-out-after-ack", 4,
         "communication error: the terminal stopped answering after 4 of 9 frames; run the download again"},
        {RunOutcome::TimedOutAfterAck, false, true, "timed-out-after-ack", 4,
         "communication error: the terminal held the line with XOFF past the write time limit, so frame 5 of 9 "
         "was not sent; run the download again"},
        // A device that went away explains a cut-short write too.
        {RunOutcome::TimedOutAfterAck, true, true, "timed-out-after-ack", 4,
         "communication error: the port went away (unplugged?) after 4 of 9 frames; run the download again"},
        {RunOutcome::TimedOut, true, false, "timed-out", 3,
         "communication error: the port went away (unplugged?) before the terminal answered; 0 of 9 frames "
         "acknowledged"},
        {RunOutcome::Refused, false, false, "refused", 5,
         "download failed: the terminal refused frame 5 of 9 five times"},
        {RunOutcome::Stopped, false, false, "stopped", 130, "stopped: 4 of 9 frames acknowledged"},
        {RunOutcome::EndHeld, false, true, "end-held", 7,
         "download failed: every frame was acknowledged, but the terminal held the line with XOFF, so the closing "
         "bytes were not sent; run the download again"},
        // Replies too quick for the line, then silence: no silent terminal.
        {RunOutcome::TimedOutAfterAck, false, false, "timed-out-after-ack", 4,
         "communication error: the terminal's replies came sooner than a 115200-baud line can carry a frame (a "
         "virtual port? the simulator then needs --pace); 4 of 9 frames acknowledged",
         2},
    };
    for (const Case& c : cases) {
        RunStats stats;
        stats.frames = 9;
        stats.acknowledged = c.outcome == RunOutcome::Completed || c.outcome == RunOutcome::EndHeld ? 9 : 4;
        stats.earlyReplies = c.early;
        stats.seconds = 1.25;
        stats.portGone = c.portGone;
        stats.lastWriteCutShort = c.cutShort;
        if (c.outcome == RunOutcome::TimedOut)
            stats.acknowledged = 0;
        SCOPED_TRACE(c.words);
        EXPECT_STREQ(OutcomeName(c.outcome), c.name);
        EXPECT_EQ(OutcomeStatus(c.outcome), c.status);
        EXPECT_EQ(OutcomeWords(c.outcome, stats), c.words);
    }
    // A port whose run never started.
    const Case unstarted[] = {
        {RunOutcome::NothingToSend, false, false, "nothing-to-send", 6, "nothing to send"},
        {RunOutcome::PortOpenFailed, false, false, "port-open-failed", 2, "cannot open the port"},
        {RunOutcome::FileError, false, false, "file-error", 1, "cannot read the image"},
        {RunOutcome::ThreadFailed, false, false, "thread-failed", 1,
         "cannot start the transfer: the system refused a thread"},
    };
    for (const Case& c : unstarted) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(OutcomeName(c.outcome), c.name);
        EXPECT_EQ(UnstartedResult("COM1", "", c.outcome, "why", 3).Status(), c.status);
        EXPECT_EQ(OutcomeWords(c.outcome, {}), c.words);
    }
    EXPECT_EQ(UnstartedResult("COM1", "", RunOutcome::Stopped, "why", 3).Status(), 130);
    const PortError missing{"/dev/ttyUSB9", PortErrorReason::NoSuchDevice, 0, {}};
    EXPECT_EQ(StartFailure("COM9", "", RunOutcome::PortOpenFailed, missing, 3).words,
              "cannot open the port: /dev/ttyUSB9: no such device");
}

// A single run's object: the two reasons a silent-looking end is not the
// terminal's, and reply times only when there were replies.
TEST(SingleRunJson, FlagsAndReplyTimes)
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
TEST(MultiPortJson, StringsAreEscapedAndEachObjectHasTheSingleRunsFields)
{
    const std::pair<std::string, std::string> strings[] = {
        {"COM7", R"("COM7")"},
        {R"(\\.\COM10)", R"("\\\\.\\COM10")"},
        {"a\"b\n\x01", R"("a\"b\u000a\u0001")"},
        {"\xED\x8F\xAC\xED\x8A\xB8", "\"\xED\x8F\xAC\xED\x8A\xB8\""},  // UTF-8 passes through
        {"\xF0\x9F\x98\x80\x7F", "\"\xF0\x9F\x98\x80\x7F\""},          // up to four bytes
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

TEST(MultiPortLog, OneLineWithUnknownsAsDashAndSeparatorsQuoted)
{
    const PortResult result = UnstartedResult("COM9", "", RunOutcome::PortOpenFailed, "cannot open", 12);
    const ImageFacts image{"/images/a\tb\"c.bin", std::nullopt, ""};
    const LogEntry entry{std::chrono::system_clock::from_time_t(86400 + 3661), result, "", image};
    EXPECT_EQ(CRunLog::FormatLine(entry),
              "1970-01-02T01:01:01Z\tCOM9\t-\t-\t\"/images/a\tb\"\"c.bin\"\t-\t-\tport-open-failed\t12\t0\t0\t0.000\n");
    const ImageFacts windows{R"(C:\temp\new.bin)", 4096, "ab"};
    const LogEntry plain{std::chrono::system_clock::from_time_t(0), result, "A10K", windows};
    EXPECT_NE(CRunLog::FormatLine(plain).find("\tA10K\tC:\\temp\\new.bin\t4096\tab\t"), std::string::npos);
}

TEST(MultiPortLiveLines, ColumnsLineUpAndNoLineWraps)
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
TEST(SinglePortProgress, TheLineFitsTheTerminal)
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

TEST(MultiPortRetry, ArgumentsAreQuotedOnlyWhenTheShellNeedsIt)
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

// A device tree as the kernel lays it out: the tty's "device" link points at
// the USB interface (ACM) or at a node below it (usb-serial); the USB device
// above the interface has the vendor id and, where the adapter has one, the
// serial number.
TEST(MultiPortAdapter, SerialNumberOfTheUsbDeviceAboveTheTty)
{
    test::TempDir dir;
    const fs::path sys = dir / "sys";
    const fs::path dev = dir / "dev";
    fs::create_directories(dev / "serial" / "by-id");
    auto usbDevice = [&](const std::string& name, const char* serial) {
        const fs::path p = sys / "devices" / "pci0000:00" / "usb1" / name;
        fs::create_directories(p);
        dir.WriteText(fs::relative(p / "idVendor", dir.Path()).string(), "0403\n");
        if (serial != nullptr)
            dir.WriteText(fs::relative(p / "serial", dir.Path()).string(), std::string(serial) + "\n");
        return p;
    };
    auto tty = [&](const std::string& name, const fs::path& deviceNode) {
        fs::create_directories(deviceNode);
        fs::create_directories(sys / "class" / "tty" / name);
        fs::create_directory_symlink(deviceNode, sys / "class" / "tty" / name / "device");
        dir.WriteText(fs::relative(dev / name, dir.Path()).string(), "");
    };
    tty("ttyUSB0", usbDevice("1-1", "A10K3XYZ") / "1-1:1.0" / "ttyUSB0");
    tty("ttyACM0", usbDevice("1-2", "ACM-42") / "1-2:1.0");
    tty("ttyUSB1", usbDevice("1-3", nullptr) / "1-3:1.0" / "ttyUSB1");
    tty("ttyS0", sys / "devices" / "pnp0" / "00:05");
    fs::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-FTDI_A10K3XYZ-if00-port0");

    const std::pair<fs::path, std::string> cases[] = {
        {dev / "ttyUSB0", "A10K3XYZ"}, {dev / "serial" / "by-id" / "usb-FTDI_A10K3XYZ-if00-port0", "A10K3XYZ"},
        {dev / "ttyACM0", "ACM-42"},   {dev / "ttyUSB1", ""},  // an adapter without a serial number
        {dev / "ttyS0", ""},                                   // an on-board port
        {dev / "pts-7", ""},                                   // no such tty in the tree
    };
    for (const auto& [device, serial] : cases)
        EXPECT_EQ(AdapterSerialNumber(device.string(), sys), serial) << device;
}

}  // namespace
}  // namespace veltrad::cli
