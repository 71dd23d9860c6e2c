// The simulated terminal on a line, driven through the real port object over
// a pty. What it answers to which frame is its model's, tested in SimModelTest.

#include "sim/Simulator.h"

#include "common/TempDir.h"
#include "image/Packet.h"
#include "serial/CommThread.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace veltrad::sim {
namespace {

using namespace std::chrono_literals;
using Frame = std::array<std::uint8_t, kFrameSize>;

Frame MakeFrame(std::uint32_t address, std::uint8_t seed)
{
    std::array<std::uint8_t, kBlockSize> block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(seed + i);
    block[0] = kXonChar;  // flow-control bytes inside the data must pass
    block[1] = kXoffChar;
    Frame frame{};
    FillFrame(frame, address, block);
    return frame;
}

class SimOverPty : public ::testing::Test {
protected:
    void Start(const SimOptions& options = {})
    {
        std::string error;
        m_sim = CSimulator::CreateOnPty(options, error);
        ASSERT_NE(m_sim, nullptr) << error;
        // The port first, so the simulator's XOFF meets a line that honours it.
        ASSERT_TRUE(
            m_comm.OpenDevice(m_sim->DevicePath(), kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit))
            << m_comm.LastOpenError();
        ASSERT_TRUE(m_sim->Start());
    }

    std::optional<std::uint8_t> NextReply(std::chrono::milliseconds timeout = 2s)
    {
        std::uint8_t byte = 0;
        if (m_comm.WaitForInput(timeout) && m_comm.ReadComm(&byte, 1) == 1)
            return byte;
        return std::nullopt;
    }

    std::optional<std::uint8_t> Exchange(const Frame& frame)
    {
        if (m_comm.WriteComm(frame.data(), kFrameSize) != kFrameSize)
            return std::nullopt;
        return NextReply();
    }

    void SendEots()
    {
        const std::uint8_t eot = kEot;
        for (int i = 0; i < kEotCount; ++i)
            ASSERT_EQ(m_comm.WriteComm(&eot, 1), 1u);
    }

    std::unique_ptr<CSimulator> m_sim;
    CCommThread m_comm;
};

TEST_F(SimOverPty, GoodFramesAreAcknowledgedAndTheImageAssembled)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::vector<std::uint8_t> expected;
    for (std::uint32_t i = 0; i < 3; ++i) {
        const Frame frame = MakeFrame(0x80 + i * kBlockSize, static_cast<std::uint8_t>(0x30 * i));
        EXPECT_EQ(Exchange(frame), kAck) << "frame " << i;
        expected.insert(expected.end(), frame.begin() + kFrameDataOffset, frame.begin() + kFrameEtxOffset);
    }
    SendEots();
    ASSERT_TRUE(m_sim->WaitForEnd(5s));

    const auto image = m_sim->Image();
    EXPECT_EQ(image.baseAddress, 0x80u);
    EXPECT_EQ(image.bytes, expected);
    EXPECT_TRUE(m_sim->Counters().ended);

    const test::TempDir dir;
    const auto file = dir / "image.bin";
    std::string error;
    ASSERT_TRUE(m_sim->WriteImage(file.string(), error)) << error;
    EXPECT_EQ(test::TempDir::Read(file), expected);
}

TEST_F(SimOverPty, XoffBeforeAFrameHoldsTheSenderThatLong)
{
    SimOptions options;
    options.xoffBeforeFrame = 1;
    options.xoffHold = 300ms;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    EXPECT_EQ(Exchange(MakeFrame(0, 0)), kAck);
    EXPECT_EQ(Exchange(MakeFrame(kBlockSize, 1)), kAck) << "a hold shorter than the write limit only delays";
    const auto frames = m_sim->Frames();
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_TRUE(frames[0].replied.has_value());
    EXPECT_GE(frames[1].firstByte - *frames[0].replied, 250ms);
}

TEST_F(SimOverPty, HoldLineOnRequestAndStopReleasesIt)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    m_sim->HoldLine(10s);
    m_sim->SendRaw({'M'});  // arrives after the XOFF has been taken
    EXPECT_EQ(NextReply(), 'M');
    const std::uint8_t eot = kEot;
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 0u) << "held";
    m_sim->Stop();
    EXPECT_EQ(m_comm.WriteComm(&eot, 1), 1u) << "stopping the simulator sends XON";
}

TEST_F(SimOverPty, FrameCutShortIsDroppedAndRefused)
{
    SimOptions options;
    options.partialFrameTimeout = 50ms;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    const Frame frame = MakeFrame(0, 0);
    ASSERT_EQ(m_comm.WriteComm(frame.data(), 40), 40u);
    EXPECT_EQ(NextReply(), kNak);
    EXPECT_EQ(m_sim->Counters().badFrames, 1u);
    EXPECT_EQ(Exchange(frame), kAck);
}

TEST_F(SimOverPty, StopEndsTheWaitForTheEnd)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    m_sim->Stop();
    EXPECT_FALSE(m_sim->WaitForEnd(10s));
    m_sim->Stop();
}

TEST(SimDevice, MissingDeviceIsReported)
{
    std::string error;
    EXPECT_EQ(CSimulator::OpenDevice("/dev/veltrad-no-such-tty", {}, error), nullptr);
    EXPECT_NE(error.find("/dev/veltrad-no-such-tty"), std::string::npos);
}

// On a real device the simulator plays the terminal's side of a three-wire
// cable: a handshake another program left on would stop its replies.
TEST(SimDevice, LeftoverHandshakeIsClearedHangUpOnCloseKept)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    t.c_cflag |= CRTSCTS | HUPCL;
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &t), 0);

    std::string error;
    auto sim = CSimulator::OpenDevice(::ptsname(master), {}, error);
    ASSERT_NE(sim, nullptr) << error;
    ASSERT_EQ(::tcgetattr(master, &t), 0);  // a pty master reads its slave's settings
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL));
    sim.reset();
    ::close(master);
}

}  // namespace
}  // namespace veltrad::sim
