// The multi-port core's pieces: the outcomes' names, statuses and words,
// the shared image and its digest, the run log's lines and its header, and
// the lookup of a USB adapter's serial number on a made-up device tree.

#include "multiport/AdapterSerial.h"
#include "multiport/Outcome.h"
#include "multiport/PortResult.h"
#include "multiport/RunLog.h"
#include "multiport/SharedImage.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

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
         "simulator run with --instant? no terminal answers that soon); 4 of 9 frames acknowledged",
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

// The digest is of the bytes the pass read and framed, across its chunks.
TEST(SharedImage, FramesOnceAndDigestsTheBytesItRead)
{
    TempDir dir;
    const struct {
        std::vector<std::uint8_t> file;
        const char* sha256;
        std::size_t frames;
    } cases[] = {
        {{'a', 'b', 'c'}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", 1},
        {std::vector<std::uint8_t>(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
         7813},
    };
    for (const auto& c : cases) {
        const auto path = dir.Write("image.bin", c.file);
        ImageError error;
        const SharedImage shared = ReadSharedImage(path, {}, true, error);
        ASSERT_TRUE(shared.image) << error.Message();
        EXPECT_EQ(shared.image->m_FrameList.size(), c.frames);
        EXPECT_EQ(shared.facts.path, path);
        EXPECT_EQ(shared.facts.size, c.file.size());
        EXPECT_EQ(shared.facts.sha256, c.sha256);
    }
    ImageError error;
    EXPECT_TRUE(ReadSharedImage(dir / "image.bin", {}, false, error).facts.sha256.empty()) << "no digest asked";
}

TEST(SharedImage, AStopOrAnUnreadableFileGivesNoImage)
{
    TempDir dir;
    const auto path = dir.Write("image.bin", std::vector<std::uint8_t>(4096, 1));
    const struct {
        std::filesystem::path file;
        bool stop;
    } cases[] = {{path, true}, {dir / "missing.bin", false}};
    for (const auto& c : cases) {
        ImageError error;
        const SharedImage shared = ReadSharedImage(
            c.file, [&] { return c.stop; }, true, error);
        EXPECT_FALSE(shared.image);
        EXPECT_EQ(error.stopped, c.stop);
        EXPECT_EQ(shared.facts.path, c.file) << "the log still names the file";
        EXPECT_FALSE(shared.facts.size.has_value());
    }
}

TEST(RunLog, OneLineWithUnknownsAsDashAndSeparatorsQuoted)
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

// A device tree as the kernel lays it out: the tty's "device" link points at
// the USB interface (ACM) or at a node below it (usb-serial); the USB device
// above the interface has the vendor id and, where the adapter has one, the
// serial number.
TEST(AdapterSerial, SerialNumberOfTheUsbDeviceAboveTheTty)
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
}  // namespace veltrad
