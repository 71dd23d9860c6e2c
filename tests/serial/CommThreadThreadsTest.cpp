// ClosePort, or a vanishing device, while the worker is inside the port's calls.

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
#include <tuple>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using test::CTestPty;
using test::OpenDescriptors;
using test::OpenDownload;
using Clock = std::chrono::steady_clock;

pid_t ThisThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

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

// A call waiting inside the port ends soon after the stop button closes the
// port, or after the device vanishes, also while XOFF holds the line; the
// port object or the kernel honouring XOFF.
struct EndCase {
    const char* name;
    bool write;   // a frame write held by XOFF; else a wait for input
    bool vanish;  // the device goes away; else ClosePort on another thread
};

class EndWhileInside : public ::testing::TestWithParam<std::tuple<EndCase, XoffHandling>> {};

TEST_P(EndWhileInside, TheCallReturnsWithin200Ms)
{
    const auto& [c, xoff] = GetParam();
    CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    CCommThread comm;
    comm.SetXoffHandling(xoff);
    ASSERT_TRUE(OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
    if (c.write)
        ASSERT_NO_FATAL_FAILURE(test::HoldLine(pty, comm));

    std::promise<pid_t> tid;
    auto tidReady = tid.get_future();
    std::atomic<Clock::rep> returnedAt{0};
    bool waitResult = false;
    std::uint32_t sent = kFrameSize;
    const auto start = Clock::now();
    std::thread worker([&] {
        tid.set_value(ThisThreadId());
        std::array<std::uint8_t, kFrameSize> frame{};
        if (c.write)
            sent = comm.WriteComm(frame.data(), kFrameSize);
        else
            waitResult = comm.WaitForInput(10s);
        returnedAt = Clock::now().time_since_epoch().count();
    });
    const bool blocked = BlockedInPoll(tidReady.get(), 5s);
    const auto endedAt = Clock::now();
    if (c.vanish)
        pty.Vanish();
    else
        comm.ClosePort();
    worker.join();

    EXPECT_TRUE(blocked) << "the worker never waited inside the call";
    EXPECT_LT(Clock::time_point(Clock::duration(returnedAt.load())) - endedAt, 200ms);
    EXPECT_LT(Clock::now() - start, 1000ms) << "the call ended at its own time limit";
    if (c.write)
        EXPECT_LT(sent, kFrameSize);
    else
        EXPECT_TRUE(waitResult) << "an end wakes the wait like input does";
    EXPECT_EQ(comm.DeviceGone(), c.vanish);
    EXPECT_EQ(comm.m_bConnected, c.vanish) << "only a close lowers the flag";
}

const EndCase kEndCases[] = {
    {"HeldWriteClosed", true, false},
    {"WaitClosed", false, false},
    {"HeldWriteVanished", true, true},
    {"WaitVanished", false, true},
};

INSTANTIATE_TEST_SUITE_P(Port, EndWhileInside,
                         ::testing::Combine(::testing::ValuesIn(kEndCases),
                                            ::testing::Values(XoffHandling::Auto, XoffHandling::Backend)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    test::XoffHandlingName(std::get<1>(info.param));
                         });

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
            const std::uint8_t eot = kEot;
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
            ASSERT_TRUE(pty.Send({kAck}));
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
