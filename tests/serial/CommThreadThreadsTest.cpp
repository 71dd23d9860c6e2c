// ClosePort from another thread while the worker is inside the port's calls.

#include "serial/CommThread.h"

#include "TestPty.h"
#include "image/Packet.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using test::CTestPty;
using test::OpenDownload;
using Clock = std::chrono::steady_clock;

pid_t ThisThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Waits until thread `tid` sits blocked in ppoll(), the wait inside the port's
// calls, as the kernel reports it.
bool BlockedInPoll(pid_t tid, std::chrono::milliseconds timeout)
{
    const auto path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::ifstream in(path);
        long number = -1;
        if (in >> number && number == SYS_ppoll)
            return true;
        std::this_thread::yield();
    }
    return false;
}

std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

class CloseFromAnotherThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Valid());
        ASSERT_TRUE(OpenDownload(m_comm, m_pty.SlavePath())) << m_comm.LastOpenError();
    }

    void HoldLine()
    {
        ASSERT_TRUE(m_pty.Send({kXoffChar, 'M'}));
        ASSERT_TRUE(m_comm.WaitForInput(2s));
        std::uint8_t marker = 0;
        ASSERT_EQ(m_comm.ReadComm(&marker, 1), 1u);
    }

    // Runs `call` on a worker, closes the port once the worker waits inside
    // it, and returns how long the call took to return after the close.
    template <typename Call>
    Clock::duration CloseWhileInside(Call call)
    {
        std::promise<pid_t> tid;
        auto tidReady = tid.get_future();
        std::atomic<Clock::rep> returnedAt{0};
        std::thread worker([&] {
            tid.set_value(ThisThreadId());
            call();
            returnedAt = Clock::now().time_since_epoch().count();
        });
        const bool blocked = BlockedInPoll(tidReady.get(), 5s);
        const auto closedAt = Clock::now();
        m_comm.ClosePort();
        worker.join();
        EXPECT_TRUE(blocked) << "the worker never waited inside the call";
        EXPECT_FALSE(m_comm.m_bConnected);
        return Clock::time_point(Clock::duration(returnedAt.load())) - closedAt;
    }

    CTestPty m_pty;
    CCommThread m_comm;
};

TEST_F(CloseFromAnotherThread, EndsAWriteHeldByXoffAtOnce)
{
    HoldLine();
    std::array<std::uint8_t, kFrameSize> frame{};
    std::uint32_t sent = kFrameSize;
    const auto start = Clock::now();
    const auto afterClose = CloseWhileInside([&] { sent = m_comm.WriteComm(frame.data(), kFrameSize); });
    EXPECT_LT(sent, kFrameSize);
    EXPECT_LT(afterClose, 200ms);
    EXPECT_LT(Clock::now() - start, 1000ms) << "the write ended at its time limit, not at the close";
}

TEST_F(CloseFromAnotherThread, EndsAWaitForInputAtOnce)
{
    bool result = false;
    const auto start = Clock::now();
    const auto afterClose = CloseWhileInside([&] { result = m_comm.WaitForInput(10s); });
    EXPECT_TRUE(result) << "a close ends the wait like input does";
    EXPECT_LT(afterClose, 200ms);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(CloseFromAnotherThread, EndsAWaitOnAVanishedDeviceAtOnce)
{
    m_pty.Vanish();
    std::uint8_t byte = 0;
    EXPECT_EQ(m_comm.ReadComm(&byte, 1), 0u);
    bool result = false;
    const auto afterClose = CloseWhileInside([&] { result = m_comm.WaitForInput(10s); });
    EXPECT_TRUE(result);
    EXPECT_LT(afterClose, 200ms);
}

// The download worker's shape: poll, write, wait, while the dialog's thread
// opens and closes the port. Every descriptor is released exactly once.
TEST(PortUnderTwoThreads, WorkerAndClosesNeverShareADescriptor)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    const std::size_t descriptorsBefore = OpenDescriptors();
    {
        CCommThread comm;
        std::atomic<bool> stop{false};
        std::atomic<std::uint32_t> calls{0};
        std::thread worker([&] {
            const std::uint8_t eot = 0x04;
            std::uint8_t byte = 0;
            while (!stop) {
                comm.WriteComm(&eot, 1);
                comm.ReadComm(&byte, 1);
                comm.WaitForInput(1ms);
                ++calls;
            }
        });
        for (int round = 0; round < 100; ++round) {
            ASSERT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
            ASSERT_TRUE(pty.Send({0x06}));
            const auto seen = calls.load();
            while (calls.load() < seen + 2)
                std::this_thread::yield();
            comm.ClosePort();
            pty.Discard();
        }
        stop = true;
        worker.join();
        EXPECT_FALSE(comm.m_bConnected);
    }
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
}

TEST(PortUnderTwoThreads, TwoThreadsClosingAtOnceReleaseOnce)
{
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    const std::size_t descriptorsBefore = OpenDescriptors();
    CCommThread comm;
    for (int round = 0; round < 50; ++round) {
        ASSERT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
        std::atomic<int> ready{0};
        auto closer = [&] {
            ++ready;
            while (ready.load() < 2)
                std::this_thread::yield();
            comm.ClosePort();
        };
        std::thread a(closer);
        std::thread b(closer);
        a.join();
        b.join();
        EXPECT_FALSE(comm.m_bConnected);
    }
    // The object's own wake-up descriptor stays for its lifetime.
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore + 1);
    CCommThread other;
    EXPECT_TRUE(OpenDownload(other, pty.SlavePath())) << "the device was released";
}

}  // namespace
}  // namespace veltrad
