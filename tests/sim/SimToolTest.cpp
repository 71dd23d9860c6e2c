// veltrad-sim as a process: the tool a technician runs.

#include "image/Packet.h"
#include "common/TempDir.h"
#include "serial/CommThread.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace veltrad {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::TempDir;

// One run of the tool with its standard output on a pipe. Reads block: a
// tool that never answers is ended by the test's own time limit.
class CSimProcess {
public:
    explicit CSimProcess(std::vector<std::string> args)
    {
        args.insert(args.begin(), VELTRAD_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = ::fdopen(fds[0], "r");
    }
    ~CSimProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out)
            std::fclose(m_out);
    }

    bool Running() const { return m_pid > 0 && m_out; }

    // The next line of output without its end, or empty at the end of output.
    std::string ReadLine()
    {
        std::array<char, 256> line{};
        if (!std::fgets(line.data(), static_cast<int>(line.size()), m_out))
            return {};
        std::string text(line.data());
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }

    // Exit code, or -1 when it did not exit normally.
    int Wait()
    {
        int status = 0;
        const pid_t pid = std::exchange(m_pid, -1);
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    void Signal(int sig) const { ::kill(m_pid, sig); }

private:
    pid_t m_pid = -1;
    std::FILE* m_out = nullptr;
};

std::uint8_t Reply(CCommThread& comm)
{
    std::uint8_t byte = 0;
    if (!comm.WaitForInput(2s) || comm.ReadComm(&byte, 1) != 1)
        return 0xEE;
    return byte;
}

TEST(SimTool, RunsADownloadOverItsLinkAndWritesTheImage)
{
    TempDir dir;
    const auto link = dir / "kv9090";
    const auto out = dir / "received.bin";
    // The line's options are taken; the delay shows in the first reply.
    CSimProcess sim({"--link", link.string(), "--out", out.string(), "--refuse", "1", "--pace", "--reply-delay-ms",
                     "20", "--delay", "100"});
    ASSERT_TRUE(sim.Running());
    const std::string first = sim.ReadLine();
    ASSERT_EQ(first.rfind("veltrad-sim: terminal on /dev/pts/", 0), 0u) << first;
    EXPECT_EQ(fs::read_symlink(link).string(), first.substr(first.rfind(' ') + 1));

    CCommThread comm;
    ASSERT_TRUE(comm.OpenDevice(link.string(), kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit))
        << comm.LastOpenError();
    std::vector<std::uint8_t> expected;
    for (std::uint32_t i = 0; i < 2; ++i) {
        std::array<std::uint8_t, kBlockSize> block{};
        block.fill(i == 0 ? kXonChar : kXoffChar);  // flow-control bytes as data
        std::array<std::uint8_t, kFrameSize> frame{};
        FillFrame(frame, 0x400 + i * kBlockSize, block);
        expected.insert(expected.end(), block.begin(), block.end());
        std::uint8_t reply = 0;
        for (int attempt = 0; attempt < 3 && reply != kAck; ++attempt) {
            const auto written = std::chrono::steady_clock::now();
            ASSERT_EQ(comm.WriteComm(frame.data(), kFrameSize), kFrameSize);
            reply = Reply(comm);
            EXPECT_GE(std::chrono::steady_clock::now() - written, 100ms);
        }
        EXPECT_EQ(reply, kAck);
    }
    const std::uint8_t eot = kEot;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(comm.WriteComm(&eot, 1), 1u);
    comm.ClosePort();

    EXPECT_EQ(sim.ReadLine(), "frames 2, refusals 1, bytes 256, base 0x00000400");
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(TempDir::Read(out), expected);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes with the tool";
}

TEST(SimTool, InterruptEndsTheRunWithoutAnImage)
{
    TempDir dir;
    const auto out = dir / "received.bin";
    CSimProcess sim({"--out", out.string()});
    ASSERT_TRUE(sim.Running());
    ASSERT_FALSE(sim.ReadLine().empty());
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.ReadLine(), "interrupted: frames 0, refusals 0, bytes 0, base 0x00000000");
    EXPECT_EQ(sim.Wait(), 130);
    EXPECT_FALSE(fs::exists(out));
}

// Refused before any terminal is played: nothing on standard output.
TEST(SimTool, BadArgumentsAndDevicesFail)
{
    const struct {
        std::vector<std::string> args;
        bool device;  // a device that is refused (1), else arguments (CLI11's status)
    } cases[] = {
        {{"--no-such-option"}, false},
        {{"--refuse", "-1"}, false},
        {{"--refuse", "1", "--times", "-2"}, false},
        {{"--silent-after", "-1"}, false},
        {{"--double-ack", "-3"}, false},
        {{"--xoff-before", "-1"}, false},
        {{"--delay", "99999999999999999999"}, false},  // would overflow into no delay
        {{"--delay", "86400001"}, false},              // more than a day
        {{"--pace", "--instant"}, false},
        {{"--device", "/dev/veltrad-no-such-tty"}, true},
        {{"--device", "/dev/ptmx"}, true},  // a pty that nobody could reach
    };
    for (const auto& c : cases) {
        CSimProcess sim(c.args);
        ASSERT_TRUE(sim.Running());
        EXPECT_EQ(sim.ReadLine(), "") << ::testing::PrintToString(c.args);
        const int status = sim.Wait();
        if (c.device)
            EXPECT_EQ(status, 1) << ::testing::PrintToString(c.args);
        else
            EXPECT_GT(status, 1) << ::testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace veltrad
