// The built veltrad-cli, run as a process against the simulated terminal:
// one exit status and one JSON object per way a download ends, Ctrl-C, the
// progress bar on a terminal only, and COM names mapped through the settings.

#include "ChildProcess.h"
#include "RunSupport.h"

#include "common/FakeDeviceTree.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace veltrad {
namespace {

using sim::SimOptions;
using test::Child;
using test::Fd;
using test::Finished;
using test::MakeSim;
using test::TempDir;

struct Json {
    std::string outcome;
    unsigned frames = 0;
    unsigned acknowledged = 0;
    unsigned resends = 0;
    double seconds = 0;
    std::optional<double> replyMsMedian;  // null without replies
    std::optional<double> replyMsP95;
    bool heldByXoff = false;
    bool portGone = false;
};

std::optional<double> NumberOrNull(const std::string& text)
{
    return text == "null" ? std::nullopt : std::optional<double>(std::stod(text));
}

// The whole of stdout must be exactly one JSON object on one line.
std::optional<Json> ParseJson(const std::string& out)
{
    static const std::regex kObject(
        R"re(\{"outcome":"([a-z-]+)","frames":(\d+),"acknowledged":(\d+),"resends":(\d+),"seconds":([0-9.]+),)re"
        R"re("held_by_xoff":(true|false),"port_gone":(true|false),"reply_ms_median":(null|[0-9.]+),"reply_ms_p95":(null|[0-9.]+)\}\n)re");
    std::smatch m;
    if (!std::regex_match(out, m, kObject))
        return std::nullopt;
    return Json{m[1], static_cast<unsigned>(std::stoul(m[2])), static_cast<unsigned>(std::stoul(m[3])),
                static_cast<unsigned>(std::stoul(m[4])), std::stod(m[5]), NumberOrNull(m[8]), NumberOrNull(m[9]),
                m[6] == "true", m[7] == "true"};
}

class CliTest : public ::testing::Test {
protected:
    std::string WriteImage(std::uint32_t frames)
    {
        std::mt19937 rng(frames);
        m_image = test::MakeImage(rng, 2, frames, 1);
        return m_dir.Write("image.bin", m_image.file).string();
    }
    // Settings of the child: its own folder, never the user's.
    std::vector<std::string> Env() const { return {"XDG_CONFIG_HOME=" + m_dir.Path().string()}; }

    TempDir m_dir;
    test::TestImage m_image;
};

enum class PortKind { Simulator, Missing, Com7MappedToSimulator, Com51 };

struct CliCase {
    const char* name;
    std::uint32_t frames;  // 0: a file of zeros; kNoFile: no file at all
    void (*options)(SimOptions&);
    bool terminalOn;
    PortKind port;
    int status;
    const char* outcome;
    unsigned acknowledged;
    unsigned resends;
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint32_t kNoFile = 0xFFFFFFFF;
constexpr std::uint32_t kFifo = 0xFFFFFFFE;  // a named pipe nobody writes to
void Plain(SimOptions&) {}

const CliCase kCliCases[] = {
    {"Completed", 6, Plain, true, PortKind::Simulator, 0, "completed", 6, 0},
    {"CompletedOnAComNameFromTheSettings", 3, Plain, true, PortKind::Com7MappedToSimulator, 0, "completed", 3, 0},
    {"Refused", 4, [](SimOptions& o) { o.refuseFrame = 1; o.refuseTimes = 5; }, true, PortKind::Simulator, 5,
     "refused", 1, 4},
    {"GarbageAnswers", 4, [](SimOptions& o) { o.garbage = true; }, true, PortKind::Simulator, 5, "refused", 0, 4},
    {"SilentBeforeAnyAck", 2, Plain, false, PortKind::Simulator, 3, "timed-out", 0, 0},
    {"SilentAfterSome", 4, [](SimOptions& o) { o.silentAfter = 0; }, true, PortKind::Simulator, 4,
     "timed-out-after-ack", 1, 0},
    {"NothingToSend", 0, Plain, true, PortKind::Simulator, 6, "nothing-to-send", 0, 0},
    {"UnreadableFile", kNoFile, Plain, true, PortKind::Simulator, 1, "file-error", 0, 0},
    {"ImageIsAPipe", kFifo, Plain, true, PortKind::Simulator, 1, "file-error", 0, 0},
    {"PortDoesNotExist", 2, Plain, true, PortKind::Missing, 2, "port-open-failed", 0, 0},
    {"ComNumberOutOfRange", 2, Plain, true, PortKind::Com51, 2, "port-open-failed", 0, 0},
};

class CliOutcome : public CliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliOutcome, ExitStatusAndJson)
{
    const CliCase& c = GetParam();
    SimOptions options;
    c.options(options);
    auto sim = MakeSim(options, c.terminalOn);
    std::string file;
    if (c.frames == kNoFile) {
        file = (m_dir / "missing.bin").string();
    } else if (c.frames == kFifo) {
        file = (m_dir / "pipe.bin").string();
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    }
    else if (c.frames == 0)
        file = m_dir.Write("zeros.bin", std::vector<std::uint8_t>(5000, 0)).string();
    else
        file = WriteImage(c.frames);

    std::string port;
    switch (c.port) {
    case PortKind::Simulator: port = sim->DevicePath(); break;
    case PortKind::Missing: port = (m_dir / "no-such-tty").string(); break;
    case PortKind::Com7MappedToSimulator:
        m_dir.WriteText("Veltrad.INI", "[Ports]\nCOM7=" + sim->DevicePath() + "\n");
        port = "COM7";
        break;
    case PortKind::Com51: port = "COM51"; break;
    }

    Child cli({VELTRAD_CLI, "download", "--json", "--port", port, file}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, c.status) << done.err;
    const auto json = ParseJson(done.out);
    ASSERT_TRUE(json.has_value()) << "stdout: " << done.out;
    EXPECT_EQ(json->outcome, c.outcome);
    EXPECT_EQ(json->acknowledged, c.acknowledged);
    EXPECT_EQ(json->resends, c.resends);
    EXPECT_EQ(json->frames, c.frames >= kFifo ? 0u : c.frames);
    EXPECT_FALSE(json->heldByXoff);
    EXPECT_FALSE(json->portGone);
    // Every acknowledgement and refusal was a reply, and was timed.
    const bool replied = c.acknowledged + c.resends > 0;
    EXPECT_EQ(json->replyMsMedian.has_value(), replied);
    EXPECT_EQ(json->replyMsP95.has_value(), replied);
    // A run that never started says why on stderr; a run says nothing there
    // when stderr is no terminal.
    const bool ran = c.status != 1 && c.status != 2 && c.status != 6;
    EXPECT_EQ(done.err.empty(), ran) << done.err;

    if (c.status == 0) {
        EXPECT_TRUE(sim->WaitForEnd(std::chrono::seconds(10)));
        EXPECT_EQ(sim->Image().bytes, m_image.span);
    } else if (c.terminalOn) {
        EXPECT_EQ(sim->Counters().eots, 0u);
    }
    if (c.status == 6 || c.status == 1) {
        EXPECT_EQ(sim->Counters().framesReceived, 0u) << "no port was opened";
    }
    if (c.status == 1) {
        EXPECT_NE(done.err.find(file), std::string::npos) << done.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliOutcome, ::testing::ValuesIn(kCliCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, BadArgumentsExitWithOne)
{
    const std::string file = WriteImage(1);
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{VELTRAD_CLI, "download", file},
             std::vector<std::string>{VELTRAD_CLI, "download", "--port"},
             std::vector<std::string>{VELTRAD_CLI, "download", "--port", "COM1", file, "--no-such-flag"},
         }) {
        Child cli(args, Env());
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 1) << done.err;
        EXPECT_FALSE(done.err.empty());
    }
}

TEST_F(CliTest, PortNamesThatNameNoDeviceAreReportedAsTyped)
{
    const std::string file = WriteImage(2);
    const std::pair<std::string, std::string> cases[] = {
        {"COM99999", "COM99999: no such port (COM1 to COM50)"},
        {"com0", "com0: no such port (COM1 to COM50)"},
        {"", "no port was given"},
    };
    for (const auto& [port, reason] : cases) {
        Child cli({VELTRAD_CLI, "download", "--port", port, file}, Env());
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 2) << done.err;
        EXPECT_EQ(done.err, "veltrad-cli: cannot open the port: " + reason + "\n");
    }
}

// Unplugging the adapter ends the run at once, as the silent terminal's
// outcome (exit 4 after an acknowledgement), and says what happened.
TEST_F(CliTest, UnpluggedPortEndsTheRunAtOnceAndSaysSo)
{
    for (const bool json : {true, false}) {
        SCOPED_TRACE(json ? "json" : "words");
        SimOptions options;
        options.silentAfter = 0;
        auto sim = MakeSim(options);
        std::vector<std::string> args = {VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(3)};
        if (json)
            args.push_back("--json");
        Child cli(args, Env());
        ASSERT_TRUE(sim->WaitForFramesReceived(2, std::chrono::seconds(20)));
        const auto unplugged = std::chrono::steady_clock::now();
        sim.reset();  // the pty's far end closes: the port hangs up
        const Finished done = cli.Wait();
        EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(3)) << "waited out the 5 s";
        EXPECT_EQ(done.status, 4) << done.err;
        if (json) {
            const auto parsed = ParseJson(done.out);
            ASSERT_TRUE(parsed.has_value()) << done.out;
            EXPECT_EQ(parsed->outcome, "timed-out-after-ack");
            EXPECT_EQ(parsed->acknowledged, 1u);
            EXPECT_TRUE(parsed->portGone);
        } else {
            EXPECT_EQ(done.out.substr(0, done.out.find("; replies")),
                      "communication error: the port went away (unplugged?) after 1 of 3 frames; "
                      "run the download again");
        }
    }
}

TEST_F(CliTest, WithoutJsonTheRunEndsWithOneLineNamingTheOutcome)
{
    auto sim = MakeSim({});
    Child cli({VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(3)}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.out.rfind("download complete: 3 frames acknowledged", 0), 0u) << done.out;
    EXPECT_NE(done.out.find(" ms median, "), std::string::npos) << done.out;
    EXPECT_EQ(std::count(done.out.begin(), done.out.end(), '\n'), 1);
    EXPECT_TRUE(done.err.empty()) << "no progress bar when stderr is not a terminal";
}

TEST_F(CliTest, ProgressBarOnlyWhenStderrIsATerminal)
{
    SimOptions options;
    options.replyDelay = std::chrono::milliseconds(40);  // a run of about half a second
    auto sim = MakeSim(options);
    auto terminal = test::TestTerminal::Open();
    Child cli({VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(12)}, Env(), terminal.slave.Get());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.out.rfind("download complete: 12 frames acknowledged", 0), 0u) << done.out;

    const std::string drawn = terminal.Drain();
    EXPECT_NE(drawn.find('\r'), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("/12 frames"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("KiB"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("left"), std::string::npos) << drawn;
}

TEST_F(CliTest, HeldByXoffPastTheWriteLimitIsSaidSoInTheLineAndTheJson)
{
    // Frame 1 meets a line held for a minute: its write ends at the limit
    // unsent, and 5 s later the run ends as a timeout after one ACK.
    SimOptions options;
    options.xoffBeforeFrame = 1;
    options.xoffHold = std::chrono::seconds(60);
    auto simJson = MakeSim(options);
    auto simText = MakeSim(options);
    const std::string file = WriteImage(3);
    Child json({VELTRAD_CLI, "download", "--json", "--port", simJson->DevicePath(), file}, Env());
    Child text({VELTRAD_CLI, "download", "--port", simText->DevicePath(), file}, Env());

    const Finished jsonDone = json.Wait();
    EXPECT_EQ(jsonDone.status, 4) << jsonDone.err;
    const auto parsed = ParseJson(jsonDone.out);
    ASSERT_TRUE(parsed.has_value()) << jsonDone.out;
    EXPECT_EQ(parsed->outcome, "timed-out-after-ack");
    EXPECT_EQ(parsed->acknowledged, 1u);
    EXPECT_TRUE(parsed->heldByXoff);

    const Finished textDone = text.Wait();
    EXPECT_EQ(textDone.status, 4) << textDone.err;
    EXPECT_EQ(textDone.out.substr(0, textDone.out.find("; replies")),
              "communication error: the terminal held the line with XOFF past the write time limit, so frame 2 of 3 "
              "was not sent; run the download again");
}

// Watches one file for its first read by any process.
class FirstRead {
public:
    explicit FirstRead(const std::string& file) : m_fd(::inotify_init1(IN_CLOEXEC))
    {
        if (m_fd.Get() < 0 || ::inotify_add_watch(m_fd.Get(), file.c_str(), IN_ACCESS) < 0)
            throw std::runtime_error(std::string("inotify: ") + std::strerror(errno));
    }
    bool Wait(std::chrono::milliseconds timeout)
    {
        pollfd p{m_fd.Get(), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
    }

private:
    Fd m_fd;
};

TEST_F(CliTest, StopSignalsWhileTheFileIsReadEndAtOnceWithoutOpeningThePort)
{
    // A sparse file just under 4 GiB whose last byte is data: a long read,
    // after which there would be one frame to send.
    const std::string file = (m_dir / "huge.bin").string();
    {
        Fd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_GE(fd.Get(), 0);
        const char data = 0x01;
        ASSERT_EQ(::pwrite(fd.Get(), &data, 1, 0xFFFFFF7Fll), 1);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        auto sim = MakeSim({});
        FirstRead reading(file);
        Child cli({VELTRAD_CLI, "download", "--json", "--port", sim->DevicePath(), file}, Env());
        ASSERT_TRUE(reading.Wait(std::chrono::seconds(20)));
        cli.Signal(signal);
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 130) << done.err;
        const auto json = ParseJson(done.out);
        ASSERT_TRUE(json.has_value()) << done.out;
        EXPECT_EQ(json->outcome, "stopped");
        EXPECT_EQ(json->frames, 0u) << "no run began";
        EXPECT_NE(done.err.find("not opened"), std::string::npos) << done.err;
        EXPECT_EQ(sim->Counters().framesReceived, 0u);
    }
}

TEST_F(CliTest, CtrlCTerminationAndHangUpStopTheRunLikeTheStopButton)
{
    if (VELTRAD_CLI_UNDER_TSAN) {
        // ThreadSanitizer holds a signal back until the receiving thread
        // reaches one of its own points; about one run in three the stop then
        // comes after the 5 s reply limit. The plain and ASan stages run this.
        GTEST_SKIP() << "signal delivery is deferred under ThreadSanitizer";
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SimOptions options;
        options.replyDelay = std::chrono::seconds(60);
        auto sim = MakeSim(options);
        Child cli({VELTRAD_CLI, "download", "--json", "--port", sim->DevicePath(), WriteImage(3)}, Env());
        ASSERT_TRUE(sim->WaitForFramesReceived(1, std::chrono::seconds(20)));
        cli.Signal(signal);
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 130) << done.err;
        const auto json = ParseJson(done.out);
        ASSERT_TRUE(json.has_value()) << done.out;
        EXPECT_EQ(json->outcome, "stopped");
        EXPECT_EQ(json->acknowledged, 0u);
        EXPECT_EQ(sim->Counters().eots, 0u);
    }
}

TEST_F(CliTest, LoadsAnImageIntoTheSimulatorToolEndToEnd)
{
    const std::string link = (m_dir / "kv9090").string();
    const std::string received = (m_dir / "received.bin").string();
    Child simulator({VELTRAD_SIM, "--link", link, "--out", received}, Env());
    const auto ready = simulator.ReadLine();
    ASSERT_TRUE(ready.has_value());
    ASSERT_NE(ready->find("terminal on"), std::string::npos) << *ready;

    Child cli({VELTRAD_CLI, "download", "--json", "--port", link, WriteImage(9)}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0) << done.err;
    const auto json = ParseJson(done.out);
    ASSERT_TRUE(json.has_value()) << done.out;
    EXPECT_EQ(json->frames, 9u);
    EXPECT_EQ(json->acknowledged, 9u);

    const Finished simDone = simulator.Wait();
    EXPECT_EQ(simDone.status, 0) << simDone.out << simDone.err;
    const std::string bytes = TempDir::ReadText(received);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), m_image.span);
}

TEST_F(CliTest, AdapterTimerOfTheSimulatorShowsInTheReplyTimesAndGivesOneHint)
{
    struct Case {
        std::vector<std::string> simOptions;
        bool slow;
    };
    const Case cases[] = {{{}, false}, {{"--reply-delay-ms", "32"}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slow ? "32 ms adapter timer" : "direct line");
        const std::string link = (m_dir / "kv9090").string();
        std::vector<std::string> args = {VELTRAD_SIM, "--link", link};
        args.insert(args.end(), c.simOptions.begin(), c.simOptions.end());
        Child simulator(args, Env());
        const auto ready = simulator.ReadLine();
        ASSERT_TRUE(ready.has_value());

        Child cli({VELTRAD_CLI, "download", "--json", "--port", link, WriteImage(12)}, Env());
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 0) << done.err;
        const auto json = ParseJson(done.out);
        ASSERT_TRUE(json.has_value()) << done.out;
        ASSERT_TRUE(json->replyMsMedian.has_value());
        EXPECT_LE(*json->replyMsMedian, *json->replyMsP95);
        // A 32 ms tick releases each reply about 32 ms after its frame's write
        // began in a stop-and-wait loop, 20 ms after the frame's line time; a
        // pty answers within a fraction of a millisecond.
        EXPECT_EQ(*json->replyMsMedian > 8.0, c.slow) << *json->replyMsMedian;
        const bool hinted = done.err.find("hint: replies took") != std::string::npos;
        EXPECT_EQ(hinted, c.slow) << done.err;
        EXPECT_EQ(std::count(done.err.begin(), done.err.end(), '\n'), c.slow ? 1 : 0) << done.err;
        EXPECT_EQ(simulator.Wait().status, 0);
    }
}

TEST_F(CliTest, PortsListsTheDevicesPresentWithTheirComNumbersAndTheLineToAdd)
{
    const test::FakeDeviceTree tree(m_dir / "tree");
    const std::vector<std::string> roots = {"--sys-root", tree.Sys().string(), "--dev-root", tree.Dev().string()};
    std::vector<std::string> json = {VELTRAD_CLI, "ports", "--json"};
    json.insert(json.end(), roots.begin(), roots.end());
    Child jsonRun(json, Env());
    const Finished listed = jsonRun.Wait();
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.front(), '[');
    EXPECT_EQ(listed.out.substr(listed.out.size() - 2), "]\n");
    std::size_t objects = 0;
    for (std::size_t at = 0; (at = listed.out.find("{\"device\":", at)) != std::string::npos; ++at)
        ++objects;
    EXPECT_EQ(objects, 6u) << listed.out;
    EXPECT_NE(listed.out.find(R"({"device":"/dev/ttyUSB0","com":33,"driver":"ftdi_sio","vid":"0403","pid":"6001",)"
                              R"("manufacturer":"FTDI","product":"FT232R USB UART","serial":"A50285BI",)"
                              R"("by_id":"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",)"
                              R"("by_path":"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"})"),
              std::string::npos)
        << listed.out;
    EXPECT_EQ(listed.out.find(R"({"device":"/dev/ttyS1")"), std::string::npos) << "an 8250 slot without a UART";
    EXPECT_NE(listed.out.find(R"({"device":"/dev/ttyACM0","com":null,"driver":"cdc_acm",)"), std::string::npos);

    std::vector<std::string> text = {VELTRAD_CLI, "ports"};
    text.insert(text.end(), roots.begin(), roots.end());
    Child textRun(text, Env());
    const Finished shown = textRun.Wait();
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("/dev/ttyUSB0  COM33  ftdi_sio  0403:6001  FT232R USB UART, FTDI, serial A50285BI\n"),
              std::string::npos)
        << shown.out;
    const std::string line = "to reach it as COM2, add to [Ports] in " + (m_dir / "Veltrad.INI").string() +
                             ": COM2=/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0\n";
    EXPECT_NE(shown.out.find(line), std::string::npos) << shown.out;

    // A machine without serial devices.
    Child none({VELTRAD_CLI, "ports", "--sys-root", (m_dir / "empty").string()}, Env());
    const Finished empty = none.Wait();
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "no serial devices found\n");
}

}  // namespace
}  // namespace veltrad
