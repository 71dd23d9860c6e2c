// The port object over real pseudo-terminals, on the test's own thread. The
// line tests run twice: with the kernel stopping output on XOFF, and with the
// port object doing it itself, as it does for drivers that ignore XOFF.

#include "serial/CommThread.h"

#include "TestPty.h"
#include "image/Packet.h"
#include "serial/NotALine_posix.h"
#include "serial/XonXoff_posix.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <numeric>
#include <optional>
#include <thread>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using test::CTestPty;
using test::OpenDescriptors;
using test::OpenDownload;
using Clock = std::chrono::steady_clock;

class PortOnPty : public ::testing::TestWithParam<XoffHandling> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Valid());
        m_comm.SetXoffHandling(GetParam());
        ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath())) << m_comm.LastOpenError();
    }

    // Queues bytes at the port and waits until the first of them is readable.
    void Arrive(const std::vector<std::uint8_t>& bytes)
    {
        ASSERT_TRUE(m_pty.Send(bytes));
        ASSERT_TRUE(m_comm.WaitForInput(2s));
    }

    CTestPty m_pty;
    CCommThread m_comm;
};

TEST_P(PortOnPty, OpenAppliesTheDownloadLine)
{
    EXPECT_TRUE(m_comm.m_bConnected);
    EXPECT_EQ(m_comm.LastOpenError(), "");
    EXPECT_EQ(m_comm.DevicePath(), m_pty.SlavePath());

    // What a wrong line would break: speed, 8N1, raw bytes, and who stops
    // output on XOFF (the kernel only in Auto mode; IXOFF either way).
    const termios t = m_pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    const tcflag_t xon = GetParam() == XoffHandling::Auto ? IXON : 0;
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL), static_cast<tcflag_t>(xon | IXOFF));
    EXPECT_EQ(t.c_lflag & ICANON, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VSTOP], kXoffChar);
}

// Another program's handshake would stop every byte on a three-wire cable,
// IXANY would let any reply end an XOFF, output processing would turn a
// frame's 0x0A into 0x0D 0x0A; HUPCL and the rest are kept.
TEST(PortOpen, LeftoverHandshakeIsClearedHangUpOnCloseKeptAsFound)
{
    for (const bool hangUp : {true, false}) {
        SCOPED_TRACE(hangUp ? "HUPCL on" : "HUPCL off");
        CTestPty pty;
        ASSERT_TRUE(pty.Valid());
        termios before = pty.SlaveSettings();
        before.c_cflag |= CRTSCTS;
        before.c_cflag = hangUp ? (before.c_cflag | HUPCL) : (before.c_cflag & ~static_cast<tcflag_t>(HUPCL));
        before.c_iflag |= IXANY;
        before.c_oflag |= OPOST | ONLCR;
        before.c_cc[VEOF] = 0x1A;
        ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &before), 0);

        CCommThread comm;
        ASSERT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
        const termios after = pty.SlaveSettings();
        EXPECT_EQ(after.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(after.c_iflag & IXANY, 0u);
        EXPECT_EQ(after.c_oflag & OPOST, 0u);
        EXPECT_EQ(after.c_cflag & HUPCL, hangUp ? static_cast<tcflag_t>(HUPCL) : 0u);
        EXPECT_EQ(after.c_cc[VEOF], 0x1A);
    }
}

struct RefusedLine {
    const char* what;
    std::uint32_t baud;
    std::uint8_t dataBits;
    std::uint8_t parity;
    std::uint8_t stopBits;
    const char* reason;
};

TEST(PortOpen, LineSettingsThatCannotBeHeldFailAndReleaseTheDevice)
{
    const RefusedLine cases[] = {
        {"odd baud rate", 12345, 8, 0, 0, "unsupported baud rate 12345"},
        {"nine data bits", 115200, 9, 0, 0, "unsupported data bits 9"},
        {"parity code 5", 115200, 8, 5, 0, "unsupported parity code 5"},
        {"1.5 stop bits", 115200, 8, 0, 1, "unsupported stop-bit code 1"},
        {"7 data bits on a pty", 115200, 7, 0, 0, "a pseudo-terminal carries only 8 data bits without parity"},
        {"even parity on a pty", 115200, 8, 2, 0, "a pseudo-terminal carries only 8 data bits without parity"},
    };
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    for (const auto& c : cases) {
        CCommThread comm;
        EXPECT_FALSE(comm.OpenDevice(pty.SlavePath(), c.baud, c.dataBits, c.parity, c.stopBits)) << c.what;
        EXPECT_FALSE(comm.m_bConnected) << c.what;
        EXPECT_EQ(comm.LastOpenError(), pty.SlavePath() + ": " + c.reason) << c.what;
        CCommThread other;
        EXPECT_TRUE(OpenDownload(other, pty.SlavePath())) << c.what << ": the failed open kept the device";
    }
    CCommThread twoStop;
    EXPECT_TRUE(twoStop.OpenDevice(pty.SlavePath(), 9600, 8, 0, 2)) << twoStop.LastOpenError();
}

TEST(PortOpen, MissingAndNonTerminalDevicesSayWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/veltrad-no-such-tty", "/dev/veltrad-no-such-tty: no such device"},
        {"/dev/null", "/dev/null: not a serial device"},
        {"", "no port was given"},
        // Ttys that are no line: refused by their numbers, whether this
        // process has a terminal or not, and never opened (a container may
        // lack one of the nodes).
        {"/dev/tty", "/dev/tty: the terminal this program runs in, not a serial line (name the port the terminal "
                     "is on)"},
        {"/dev/console", "/dev/console: the console, not a serial line"},
        {"/dev/ptmx",
         "/dev/ptmx: the pseudo-terminal multiplexer, not a serial line (name the /dev/pts device instead)"},
    };
    for (const auto& [device, error] : cases) {
        SCOPED_TRACE(device);
        if (!std::string_view(error).ends_with("no such device") && device[0] != '\0' &&
            !std::filesystem::exists(device))
            continue;
        CCommThread comm;
        EXPECT_FALSE(OpenDownload(comm, device));
        EXPECT_FALSE(comm.m_bConnected);
        EXPECT_EQ(comm.LastOpenError(), error);
    }
}

// In a child process: `become` makes it the process the case needs (false:
// it could not), then the open must fail with `expected`. 0 when it did, 1
// for another message, 2 when the port opened, 3 when `become` failed.
int OpenFailsInChild(const std::string& device, bool (*become)(const std::string&), const std::string& expected)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (!become(device))
            ::_exit(3);
        CCommThread comm;
        const bool opened = OpenDownload(comm, device);
        ::_exit(opened ? 2 : comm.LastOpenError() == expected ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The operator's own terminal under its pts name: taking it would write
// frames into the shell's screen and leave it raw at 115200 baud.
TEST(PortOpen, TheControllingTerminalIsRefusedByItsOwnName)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    const auto ownTerminal = [](const std::string& device) {
        const int fd = ::setsid() < 0 ? -1 : ::open(device.c_str(), O_RDWR | O_CLOEXEC);
        return fd >= 0 && ::ioctl(fd, TIOCSCTTY, 0) == 0;
    };
    EXPECT_EQ(OpenFailsInChild(pty.SlavePath(), ownTerminal,
                               pty.SlavePath() + ": the terminal this program runs in, not a serial line (name the "
                                                 "port the terminal is on)"),
              0);
}

// Started by setsid with its streams on the operator's terminal, the program
// has no controlling terminal, but that terminal is still its own.
TEST(PortOpen, TheTerminalOfTheStandardStreamsIsRefusedWithoutASession)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    const auto streamsOnIt = [](const std::string& device) {
        const int fd = ::setsid() < 0 ? -1 : ::open(device.c_str(), O_RDWR | O_NOCTTY);
        return fd >= 0 && ::dup2(fd, STDIN_FILENO) == STDIN_FILENO && ::dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
    };
    EXPECT_EQ(OpenFailsInChild(pty.SlavePath(), streamsOnIt,
                               pty.SlavePath() + ": the terminal this program runs in, not a serial line (name the "
                                                 "port the terminal is on)"),
              0);
}

// By device number: the tty on one of the streams given, and every console
// the kernel writes to; the rest is a line.
TEST(PortOpen, StreamsAndActiveConsolesAreToldByDeviceNumber)
{
    test::TempDir sys;
    for (const char* tty : {"console", "tty0", "ttyS1"})
        std::filesystem::create_directories(sys / "class/tty" / tty);
    sys.WriteText("class/tty/console/active", "tty0 ttyS1\n");
    sys.WriteText("class/tty/tty0/dev", "4:0\n");
    sys.WriteText("class/tty/ttyS1/dev", "4:65\n");
    EXPECT_EQ(ActiveConsoles(sys.Path()), (std::vector<dev_t>{::makedev(4, 0), ::makedev(4, 65)}));
    EXPECT_TRUE(ActiveConsoles(sys / "none").empty());

    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    struct stat slave {};
    ASSERT_EQ(::stat(pty.SlavePath().c_str(), &slave), 0);
    const int onPty = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(onPty, 0);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    const struct {
        const char* name;
        dev_t device;
        std::vector<int> streams;
        std::optional<PortErrorReason> reason;
    } cases[] = {
        {"a pty on no stream", slave.st_rdev, {devNull}, std::nullopt},
        {"the pty on a stream", slave.st_rdev, {devNull, onPty}, PortErrorReason::ControllingTerminal},
        {"a serial console", ::makedev(4, 65), {devNull}, PortErrorReason::Console},
        {"a serial port beside it", ::makedev(4, 66), {devNull}, std::nullopt},
        {"/dev/ptmx", ::makedev(5, 2), {}, PortErrorReason::PtyMultiplexer},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NotALine(c.device, sys.Path(), c.streams), c.reason) << c.name;
    ::close(onPty);
    ::close(devNull);
}

// Another program's TIOCEXCL keeps this one out, root or not, and stays set.
TEST(PortOpen, ATtyHeldExclusivelyByAnotherIsInUseAndStaysExclusive)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    ASSERT_TRUE(pty.SetSlaveExclusive(true));
    CCommThread comm;
    EXPECT_FALSE(OpenDownload(comm, pty.SlavePath()));
    EXPECT_EQ(comm.LastOpenError(), pty.SlavePath() + ": in use by another program");
    EXPECT_TRUE(pty.SlaveExclusive()) << "the other program's exclusive mode was cleared";
    ASSERT_TRUE(pty.SetSlaveExclusive(false));
    EXPECT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
}

TEST(PortOpen, DeviceTheUserMayNotOpenSaysHowToGetAccess)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to open the device as another user";
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    const auto nobody = [](const std::string&) { return ::setgid(65534) == 0 && ::setuid(65534) == 0; };
    EXPECT_EQ(OpenFailsInChild(pty.SlavePath(), nobody,
                               pty.SlavePath() + ": permission denied (add your user to the dialout group)"),
              0);
}

TEST_P(PortOnPty, StaleInputIsDiscardedAtOpen)
{
    m_comm.ClosePort();
    ASSERT_TRUE(m_pty.Send({kAck, kAck}));
    ASSERT_TRUE(m_pty.SlaveHasInput(2s));
    ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath()));
    std::uint8_t byte = 0;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    Arrive({0x41});
    ASSERT_EQ(m_comm.ReadComm(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x41);
}

TEST_P(PortOnPty, ReadReturnsQueuedBytesInOrderUpToTheCount)
{
    std::uint8_t byte = 0;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u) << "nothing queued";

    Arrive({kNak, kAck, 0x2A});
    for (const std::uint8_t expected : {kNak, kAck, std::uint8_t{0x2A}}) {
        ASSERT_EQ(m_comm.ReadComm(&byte, 1), 1u);
        EXPECT_EQ(byte, expected);
    }
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);

    Arrive({kAck});
    std::array<std::uint8_t, 5> five{};
    EXPECT_EQ(m_comm.ReadComm(five.data(), 5), 1u);
    EXPECT_EQ(five[0], kAck);
    EXPECT_EQ(m_comm.ReadComm(five.data(), 0), 0u);
}

TEST_P(PortOnPty, WriteHeldByXoffReturnsShortAfterItsTimeLimit)
{
    ASSERT_NO_FATAL_FAILURE(test::HoldLine(m_pty, m_comm));
    std::array<std::uint8_t, kFrameSize> frame{};
    frame.fill(0x5A);
    const auto start = Clock::now();
    const auto sent = m_comm.WriteComm(frame.data(), kFrameSize);
    const auto elapsed = Clock::now() - start;
    EXPECT_LT(sent, kFrameSize);
    EXPECT_GE(elapsed, 1000ms);
    EXPECT_LT(elapsed, 5000ms);

    // XON releases the line; the cut write left nothing behind to follow.
    ASSERT_TRUE(m_pty.Send({kXonChar}));
    const std::vector<std::uint8_t> next = {0x02, 0x03};
    EXPECT_EQ(m_comm.WriteComm(next.data(), 2), 2u);
    const auto got = m_pty.Receive(kFrameSize + 2, 300ms);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(got.end() - 2, got.end()), next);
    EXPECT_EQ(got.size(), sent + 2u);
}

TEST_P(PortOnPty, HeldFrameWaitsForXonThenGoesOutWhole)
{
    ASSERT_NO_FATAL_FAILURE(test::HoldLine(m_pty, m_comm));
    std::array<std::uint8_t, kFrameSize> frame{};
    std::iota(frame.begin(), frame.end(), std::uint8_t{0x01});  // 0x11 and 0x13 among the data
    std::uint32_t sent = 0;
    std::thread writer([&] { sent = m_comm.WriteComm(frame.data(), kFrameSize); });
    EXPECT_TRUE(m_pty.Receive(1, 200ms).empty()) << "a byte left while XOFF held the line";
    ASSERT_TRUE(m_pty.Send({kXonChar}));
    const auto got = m_pty.Receive(kFrameSize, 2s);
    writer.join();
    EXPECT_EQ(sent, kFrameSize);
    EXPECT_EQ(got, std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

// A byte that came while a transmission waited for XON came before it: only
// what the far end sends once it has the bytes can answer them.
TEST_P(PortOnPty, TransmissionDropsWhatCameBeforeItLeft)
{
    ASSERT_NO_FATAL_FAILURE(test::HoldLine(m_pty, m_comm));
    std::array<std::uint8_t, kFrameSize> frame{};
    frame.fill(0x5A);
    std::uint32_t sent = 0;
    std::thread writer([&] { sent = m_comm.WriteTransmission(frame.data(), kFrameSize); });
    ASSERT_TRUE(m_pty.Send({kAck, kXonChar}));
    EXPECT_EQ(m_pty.Receive(kFrameSize, 2s).size(), kFrameSize);
    writer.join();
    EXPECT_EQ(sent, kFrameSize);
    Arrive({kNak});
    std::array<std::uint8_t, 4> got{};
    EXPECT_EQ(m_comm.ReadComm(got.data(), 4), 1u);
    EXPECT_EQ(got[0], kNak);
}

TEST_P(PortOnPty, FlowBytesAreNeverReadAsReplies)
{
    ASSERT_TRUE(m_pty.Send({kXoffChar, kXonChar}));
    EXPECT_FALSE(m_comm.WaitForInput(100ms)) << "flow bytes alone are no input";

    Arrive({kXonChar, kAck, kXoffChar, kXonChar, kNak, kXoffChar, kXonChar});
    std::array<std::uint8_t, 8> got{};
    std::vector<std::uint8_t> replies;
    const auto deadline = Clock::now() + 2s;
    while (replies.size() < 2 && Clock::now() < deadline) {
        const auto n = m_comm.ReadComm(got.data(), static_cast<std::uint32_t>(got.size()));
        replies.insert(replies.end(), got.begin(), got.begin() + n);
        if (n == 0)
            m_comm.WaitForInput(100ms);
    }
    EXPECT_EQ(replies, (std::vector<std::uint8_t>{kAck, kNak}));
    EXPECT_EQ(m_comm.ReadComm(got.data(), 1), 0u);
}

TEST_P(PortOnPty, OpeningAgainResumesOutputHeldByAnEarlierXoff)
{
    ASSERT_NO_FATAL_FAILURE(test::HoldLine(m_pty, m_comm));
    m_comm.ClosePort();
    ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath()));
    const std::uint8_t eot = kEot;
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    EXPECT_EQ(m_pty.Receive(1, 1s), std::vector<std::uint8_t>{kEot});
}

TEST_P(PortOnPty, ClosedObjectTouchesNothingAndReturnsZero)
{
    m_comm.ClosePort();
    EXPECT_FALSE(m_comm.m_bConnected);
    m_comm.ClosePort();  // twice is harmless
    EXPECT_FALSE(m_comm.m_bConnected);

    ASSERT_TRUE(m_pty.Send({kAck}));
    std::uint8_t byte = 0;
    const std::uint8_t eot = kEot;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 0u);
    EXPECT_TRUE(m_comm.WaitForInput(5s)) << "a closed port does not wait";
    EXPECT_TRUE(m_pty.Receive(1, 100ms).empty());

    CCommThread neverOpened;
    neverOpened.ClosePort();
    EXPECT_EQ(neverOpened.ReadComm(&byte, 1), 0u);
    EXPECT_EQ(neverOpened.WriteComm(&eot, 1), 0u);
}

TEST_P(PortOnPty, BytesWrittenJustBeforeCloseReachTheLine)
{
    const std::uint8_t eot = kEot;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    m_comm.ClosePort();
    EXPECT_EQ(m_pty.Receive(3, 1s), (std::vector<std::uint8_t>{kEot, kEot, kEot}));
}

TEST_P(PortOnPty, WaitForInputReportsQueuedBytesAndTimesOut)
{
    EXPECT_FALSE(m_comm.WaitForInput(20ms));
    EXPECT_FALSE(m_comm.WaitForInput(0ms));
    ASSERT_TRUE(m_pty.Send({kAck}));
    EXPECT_TRUE(m_comm.WaitForInput(2s));
    EXPECT_TRUE(m_comm.WaitForInput(0ms)) << "the byte is still queued";
}

TEST_P(PortOnPty, SecondOpenOfAHeldDeviceFailsUntilTheHolderLetsGo)
{
    CCommThread second;
    EXPECT_FALSE(OpenDownload(second, m_pty.SlavePath()));
    EXPECT_FALSE(second.m_bConnected);
    EXPECT_EQ(second.LastOpenError(), m_pty.SlavePath() + ": in use by another program");

    // The holder is unaffected.
    const std::uint8_t eot = kEot;
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    EXPECT_EQ(m_pty.Receive(1, 1s).size(), 1u);

    m_comm.ClosePort();
    EXPECT_TRUE(OpenDownload(second, m_pty.SlavePath())) << second.LastOpenError();
    EXPECT_EQ(second.LastOpenError(), "");
    EXPECT_FALSE(OpenDownload(m_comm, m_pty.SlavePath())) << "now the first object is shut out";
}

TEST_P(PortOnPty, VanishedDeviceIsReportedAndLetGoAtOnce)
{
    const std::size_t descriptors = OpenDescriptors();
    m_pty.Vanish();  // closes the test's two descriptors
    std::uint8_t byte = 0;
    std::array<std::uint8_t, kFrameSize> frame{};
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    EXPECT_TRUE(m_comm.DeviceGone());
    EXPECT_EQ(OpenDescriptors(), descriptors - 3) << "the port still holds the vanished device";
    EXPECT_TRUE(m_comm.m_bConnected) << "only ClosePort clears the flag";

    const auto start = Clock::now();
    EXPECT_TRUE(m_comm.WaitForInput(10s)) << "nothing will ever come";
    EXPECT_EQ(m_comm.WriteComm(frame.data(), kFrameSize), 0u);
    EXPECT_LT(Clock::now() - start, 200ms);

    m_comm.ClosePort();
    EXPECT_FALSE(m_comm.m_bConnected);
    EXPECT_FALSE(m_comm.DeviceGone());
}

INSTANTIATE_TEST_SUITE_P(Xoff, PortOnPty, ::testing::Values(XoffHandling::Auto, XoffHandling::Backend),
                         [](const auto& info) { return std::string(test::XoffHandlingName(info.param)); });

// Exclusive mode outlives the descriptor on a tty that someone else holds
// open (here the test, elsewhere a terminal program): every ending clears it.
TEST(PortRelease, EveryEndingLeavesTheDeviceOpenToOthers)
{
    const std::pair<const char*, void (*)(const std::string&)> endings[] = {
        {"close",
         [](const std::string& path) {
             CCommThread comm;
             ASSERT_TRUE(OpenDownload(comm, path));
             comm.ClosePort();
         }},
        {"destruction",
         [](const std::string& path) {
             CCommThread comm;
             ASSERT_TRUE(OpenDownload(comm, path));
         }},
        {"open refused after the device was taken",
         [](const std::string& path) {
             CCommThread comm;
             ASSERT_FALSE(comm.OpenDevice(path, kDownloadBaudRate, 7, kNoParity, kOneStopBit));
         }},
        {"reopen of an open port refused",
         [](const std::string& path) {
             CCommThread comm;
             ASSERT_TRUE(OpenDownload(comm, path));
             ASSERT_FALSE(comm.OpenDevice(path, kDownloadBaudRate, 7, kNoParity, kOneStopBit));
         }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        CTestPty pty;
        ASSERT_TRUE(pty.Valid());
        end(pty.SlavePath());
        EXPECT_FALSE(pty.SlaveExclusive());
    }
    CTestPty pty;
    CCommThread comm;
    ASSERT_TRUE(OpenDownload(comm, pty.SlavePath()));
    EXPECT_TRUE(pty.SlaveExclusive()) << "exclusive while open";
}

// Which driver a device has decides who honours XOFF; sysfs names it.
TEST(XoffDriver, SysfsNamesTheDriverAndItsXoffHandling)
{
    test::TempDir sys;
    const struct {
        unsigned major, minor;
        const char* driver;  // nullptr: sysfs has no driver link for the device
        bool kernelStopsOutput;
    } cases[] = {
        {188, 0, "ch341-uart", false}, {166, 0, "cdc_acm", false}, {188, 1, "ftdi_sio", true},
        {4, 64, "serial8250", true},   {136, 3, nullptr, true},
    };
    for (const auto& c : cases) {
        const auto dir =
            sys.Path() / "dev" / "char" / (std::to_string(c.major) + ":" + std::to_string(c.minor)) / "device";
        std::filesystem::create_directories(dir);
        if (c.driver != nullptr)
            std::filesystem::create_symlink(std::string("../../../bus/usb-serial/drivers/") + c.driver, dir / "driver");
    }
    for (const auto& c : cases) {
        const std::string name = SerialDriverName(makedev(c.major, c.minor), sys.Path());
        EXPECT_EQ(name, c.driver ? c.driver : "") << c.major << ":" << c.minor;
        EXPECT_EQ(DriverStopsOutputOnXoff(name), c.kernelStopsOutput) << name;
    }
}

// What the writer that honours XOFF itself counts as not yet on the line:
// the line's own pace, and the driver's queue figure only where it can be a
// byte count (ch341 counts bytes, cdc_acm busy buffers times their size).
TEST(XoffPacer, PendingFollowsTheLineAndTheDriverWhereItCountsBytes)
{
    struct Step {
        std::uint32_t atByte;  // the query's time: the line time of this many bytes since the start ...
        int nudgeNs;           // ... and this many nanoseconds
        std::uint32_t write;   // bytes written then, before the query
        int driverQueued;      // TIOCOUTQ then
        std::uint32_t pending;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"nothing written", {{0, 0, 0, 0, 0}}},
        {"the line's pace, rounded up", {{0, 0, 16, 0, 16}, {8, 0, 0, 0, 8}, {16, -1, 0, 0, 1}, {16, 0, 0, 0, 0}}},
        {"writes queue behind each other", {{0, 0, 16, 0, 16}, {0, 0, 16, 0, 32}, {16, 0, 0, 0, 16}}},
        {"an idle line banks nothing", {{0, 0, 16, 0, 16}, {100, 0, 16, 0, 16}}},
        {"a driver behind the line counts", {{0, 0, 16, 16, 16}, {20, 0, 0, 5, 5}}},
        {"a figure above what was written is none", {{0, 0, 16, 10240, 16}, {20, 0, 0, 10240, 0}}},
        {"an empty queue starts the count anew",
         {{0, 0, 16, 16, 16}, {20, 0, 0, 0, 0}, {20, 0, 4, 16, 4}, {24, 0, 0, 4, 4}}},
    };
    const auto start = CLinePacer::Clock::time_point{} + 1h;
    for (const auto& c : cases) {
        CLinePacer pacer;
        pacer.Reset(kDownloadBaudRate);
        for (const auto& step : c.steps) {
            const auto at = start + pacer.LineTime(step.atByte) + std::chrono::nanoseconds(step.nudgeNs);
            if (step.write > 0)
                pacer.Wrote(step.write, at);
            EXPECT_EQ(pacer.Pending(step.driverQueued, at), step.pending)
                << c.what << " at byte " << step.atByte << " " << step.nudgeNs << " ns";
        }
    }
}

}  // namespace
}  // namespace veltrad
