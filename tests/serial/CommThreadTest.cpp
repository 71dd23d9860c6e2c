// The port object over real pseudo-terminals, on the test's own thread.

#include "serial/CommThread.h"

#include "TestPty.h"
#include "image/Packet.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <numeric>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using test::CTestPty;
using test::OpenDownload;
using Clock = std::chrono::steady_clock;

class PortOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Valid());
        ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath())) << m_comm.LastOpenError();
    }

    // Queues bytes at the port and waits until the first of them is readable.
    void Arrive(const std::vector<std::uint8_t>& bytes)
    {
        ASSERT_TRUE(m_pty.Send(bytes));
        ASSERT_TRUE(m_comm.WaitForInput(2s));
    }

    // XOFF from the far end; the marker behind it shows when the port has taken it.
    void HoldLine()
    {
        Arrive({kXoffChar, 'M'});
        std::uint8_t marker = 0;
        ASSERT_EQ(m_comm.ReadComm(&marker, 1), 1u);
        ASSERT_EQ(marker, 'M') << "XOFF must be taken as flow control, not data";
    }

    CTestPty m_pty;
    CCommThread m_comm;
};

TEST_F(PortOnPty, OpenAppliesTheDownloadLine)
{
    EXPECT_TRUE(m_comm.m_bConnected);
    EXPECT_EQ(m_comm.LastOpenError(), "");
    EXPECT_EQ(m_comm.DevicePath(), m_pty.SlavePath());

    const termios t = m_pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_iflag & (IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VSTART], kXonChar);
    EXPECT_EQ(t.c_cc[VSTOP], kXoffChar);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(PortOpen, SettingsOutsideTheDownloadLineKeepWhatThePortReported)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    termios before = pty.SlaveSettings();
    before.c_cflag |= CRTSCTS;
    before.c_cc[VEOF] = 0x1A;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &before), 0);

    CCommThread comm;
    ASSERT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(after.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    EXPECT_EQ(after.c_cc[VEOF], 0x1A);
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
    };
    for (const auto& [device, error] : cases) {
        CCommThread comm;
        EXPECT_FALSE(OpenDownload(comm, device));
        EXPECT_FALSE(comm.m_bConnected);
        EXPECT_EQ(comm.LastOpenError(), error);
    }
}

TEST(PortOpen, DeviceTheUserMayNotOpenSaysHowToGetAccess)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to open the device as another user";
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        CCommThread comm;
        const bool opened = OpenDownload(comm, pty.SlavePath());
        const std::string expected = pty.SlavePath() + ": permission denied (add your user to the dialout group)";
        ::_exit(opened ? 2 : comm.LastOpenError() == expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: other message, 2: opened, 3: could not drop root";
}

TEST_F(PortOnPty, StaleInputIsDiscardedAtOpen)
{
    m_comm.ClosePort();
    ASSERT_TRUE(m_pty.Send({0x06, 0x06}));
    ASSERT_TRUE(m_pty.SlaveHasInput(2s));
    ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath()));
    std::uint8_t byte = 0;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    Arrive({0x41});
    ASSERT_EQ(m_comm.ReadComm(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x41);
}

TEST_F(PortOnPty, ReadReturnsQueuedBytesInOrderUpToTheCount)
{
    std::uint8_t byte = 0;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u) << "nothing queued";

    Arrive({0x15, 0x06, 0x2A});
    for (const std::uint8_t expected : {0x15, 0x06, 0x2A}) {
        ASSERT_EQ(m_comm.ReadComm(&byte, 1), 1u);
        EXPECT_EQ(byte, expected);
    }
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);

    Arrive({0x06});
    std::array<std::uint8_t, 5> five{};
    EXPECT_EQ(m_comm.ReadComm(five.data(), 5), 1u);
    EXPECT_EQ(five[0], 0x06);
    EXPECT_EQ(m_comm.ReadComm(five.data(), 0), 0u);
}

TEST_F(PortOnPty, FrameWithFlowControlBytesPassesUnchanged)
{
    std::array<std::uint8_t, kBlockSize> block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = (i % 2 == 0) ? kXonChar : kXoffChar;
    block[7] = '\r';
    block[8] = '\n';
    block[9] = 0x04;
    std::array<std::uint8_t, kFrameSize> frame{};
    FillFrame(frame, 0x1113, block);

    EXPECT_EQ(m_comm.WriteComm(frame.data(), kFrameSize), kFrameSize);
    const auto got = m_pty.Receive(kFrameSize, 2s);
    EXPECT_EQ(got, std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

TEST_F(PortOnPty, WriteHeldByXoffReturnsShortAfterItsTimeLimit)
{
    HoldLine();
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

TEST_F(PortOnPty, OpeningAgainResumesOutputHeldByAnEarlierXoff)
{
    HoldLine();
    m_comm.ClosePort();
    ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath()));
    const std::uint8_t eot = 0x04;
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    EXPECT_EQ(m_pty.Receive(1, 1s), std::vector<std::uint8_t>{0x04});
}

TEST_F(PortOnPty, ClosedObjectTouchesNothingAndReturnsZero)
{
    m_comm.ClosePort();
    EXPECT_FALSE(m_comm.m_bConnected);
    m_comm.ClosePort();  // twice is harmless
    EXPECT_FALSE(m_comm.m_bConnected);

    ASSERT_TRUE(m_pty.Send({0x06}));
    std::uint8_t byte = 0;
    const std::uint8_t eot = 0x04;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 0u);
    EXPECT_TRUE(m_comm.WaitForInput(5s)) << "a closed port does not wait";
    EXPECT_TRUE(m_pty.Receive(1, 100ms).empty());

    CCommThread neverOpened;
    neverOpened.ClosePort();
    EXPECT_EQ(neverOpened.ReadComm(&byte, 1), 0u);
    EXPECT_EQ(neverOpened.WriteComm(&eot, 1), 0u);
}

TEST_F(PortOnPty, BytesWrittenJustBeforeCloseReachTheLine)
{
    const std::uint8_t eot = 0x04;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    m_comm.ClosePort();
    EXPECT_EQ(m_pty.Receive(3, 1s), (std::vector<std::uint8_t>{0x04, 0x04, 0x04}));
}

TEST_F(PortOnPty, WaitForInputReportsQueuedBytesAndTimesOut)
{
    EXPECT_FALSE(m_comm.WaitForInput(20ms));
    EXPECT_FALSE(m_comm.WaitForInput(0ms));
    ASSERT_TRUE(m_pty.Send({0x06}));
    EXPECT_TRUE(m_comm.WaitForInput(2s));
    EXPECT_TRUE(m_comm.WaitForInput(0ms)) << "the byte is still queued";
}

TEST_F(PortOnPty, SecondOpenOfAHeldDeviceFailsUntilTheHolderLetsGo)
{
    CCommThread second;
    EXPECT_FALSE(OpenDownload(second, m_pty.SlavePath()));
    EXPECT_FALSE(second.m_bConnected);
    EXPECT_EQ(second.LastOpenError(), m_pty.SlavePath() + ": in use by another program");

    // The holder is unaffected.
    const std::uint8_t eot = 0x04;
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    EXPECT_EQ(m_pty.Receive(1, 1s).size(), 1u);

    m_comm.ClosePort();
    EXPECT_TRUE(OpenDownload(second, m_pty.SlavePath())) << second.LastOpenError();
    EXPECT_EQ(second.LastOpenError(), "");
    EXPECT_FALSE(OpenDownload(m_comm, m_pty.SlavePath())) << "now the first object is shut out";
}

// Runs `OpenDevice` in a child process; its exit code says whether it opened.
int OpenInChild(const std::string& device)
{
    const pid_t child = ::fork();
    if (child == 0) {
        CCommThread comm;
        const bool opened = OpenDownload(comm, device);
        const bool busy = comm.LastOpenError().find("in use by another program") != std::string::npos;
        ::_exit(opened ? 0 : busy ? 1 : 2);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(PortOnPty, AnotherProcessCannotOpenAHeldDevice)
{
    EXPECT_EQ(OpenInChild(m_pty.SlavePath()), 1) << "busy while this process holds it";
    m_comm.ClosePort();
    EXPECT_EQ(OpenInChild(m_pty.SlavePath()), 0) << "free once it let go";
}

double ThreadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

TEST_F(PortOnPty, VanishedDeviceReadsNothingWritesShortAndDoesNotSpin)
{
    m_pty.Vanish();
    std::uint8_t byte = 0;
    std::array<std::uint8_t, kFrameSize> frame{};
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    EXPECT_LT(m_comm.WriteComm(frame.data(), kFrameSize), kFrameSize);
    EXPECT_TRUE(m_comm.m_bConnected) << "only ClosePort clears the flag";

    // The caller's polling loop waits out its time instead of burning a core.
    const double cpuBefore = ThreadCpuMs();
    const auto start = Clock::now();
    EXPECT_FALSE(m_comm.WaitForInput(300ms));
    EXPECT_GE(Clock::now() - start, 250ms);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 100.0);

    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    m_comm.ClosePort();
    EXPECT_FALSE(m_comm.m_bConnected);
}

TEST(PortOpen, VanishedDeviceCannotBeReopened)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    const std::string path = pty.SlavePath();
    pty.Vanish();
    CCommThread comm;
    EXPECT_FALSE(OpenDownload(comm, path));
    EXPECT_FALSE(comm.m_bConnected);
    EXPECT_FALSE(comm.LastOpenError().empty());
}

}  // namespace
}  // namespace veltrad
