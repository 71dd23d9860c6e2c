// The stop button's path on Windows, against veltrad-sim: the simulator
// accepts frame 0 and holds the line with XOFF before frame 1, so the worker
// sits in a pending overlapped write when the stop closes the port from this
// thread. VELTRAD_TEST_SIM_PORT names the simulator's COM port;
// tests/windows/e2e.sh stop starts the simulator with that hold.

#include "Win32TestSupport.h"

#include "common/TempDir.h"
#include "download/DownloadSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using namespace test;

class CRecorder final : public IRunObserver {
public:
    void OnProgressStep(std::uint64_t) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_steps;
        }
        m_changed.notify_all();
    }
    void OnProgressReset(std::uint64_t) override {}
    void OnEnableControls(std::uint64_t, bool) override {}
    void OnNotice(std::uint64_t, Notice) override
    {
        std::lock_guard lock(m_mutex);
        ++m_notices;
    }
    void OnRunEnded(std::uint64_t, RunOutcome outcome, const RunStats& stats) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_outcome = outcome;
            m_stats = stats;
            m_endedAt = Clock::now();
        }
        m_changed.notify_all();
    }

    bool WaitForSteps(int steps, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, wait, [&] { return m_steps >= steps || m_outcome.has_value(); }) &&
               m_steps >= steps;
    }
    bool WaitForEnd(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, wait, [&] { return m_outcome.has_value(); });
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_steps = 0;
    int m_notices = 0;
    std::optional<RunOutcome> m_outcome;
    RunStats m_stats;
    Clock::time_point m_endedAt;
};

TEST(Win32SessionStop, StopDuringAWriteHeldByXoffEndsTheRunWithoutANotice)
{
    const auto port = PortFromEnv("VELTRAD_TEST_SIM_PORT");
    ASSERT_TRUE(port.has_value()) << "VELTRAD_TEST_SIM_PORT names the simulator's port";

    // Eight non-zero blocks: frame 0 goes through, frame 1 meets the hold.
    const TempDir dir;
    const std::filesystem::path file = dir.Write("image.bin", std::vector<std::uint8_t>(8 * kBlockSize, 0x5A));

    CRecorder recorder;
    {
        CDownloadSession session(recorder);
        session.SelectPort(*port);
        session.Image().SetFile(file);
        ASSERT_EQ(session.OnDownload(), StartResult::Started) << session.Comm().LastOpenError();
        ASSERT_TRUE(recorder.WaitForSteps(1, 20s)) << "frame 0 was not acknowledged";

        // The worker now writes frame 1 into the held line; the write stays
        // pending for its whole time limit. Stop inside that time.
        std::this_thread::sleep_for(200ms);
        const auto stopAt = Clock::now();
        session.OnStop();
        EXPECT_FALSE(session.Comm().IsConnected());
        ASSERT_TRUE(recorder.WaitForEnd(kFrameWriteLimit + 5s));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(recorder.m_endedAt - stopAt);
        // Windows aborts the write at the close's purge, Wine at the cancel
        // that follows it: a stop never waits on held output.
        EXPECT_LT(took, 200ms);
        session.StopAndJoin();
    }

    ASSERT_TRUE(recorder.m_outcome.has_value());
    EXPECT_EQ(*recorder.m_outcome, RunOutcome::Stopped);
    EXPECT_EQ(recorder.m_notices, 0);
    EXPECT_EQ(recorder.m_stats.acknowledged, 1u);
    EXPECT_EQ(recorder.m_stats.frames, 8u);
}

}  // namespace
}  // namespace veltrad
