// The stop button's path on Windows, against veltrad-sim: the simulator
// accepts frame 0 and holds the line with XOFF before frame 1, so the worker
// sits in a pending overlapped write when the stop closes the port from this
// thread. VELTRAD_TEST_SIM_PORT names the simulator's COM port;
// tests/windows/e2e.sh stop starts the simulator with that hold.

#include "Win32TestSupport.h"

#include "common/TempDir.h"
#include "download/PortRun.h"

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

class CRecorder final : public IRunListener {
public:
    void OnRunEvent(const RunEvent& event) override
    {
        {
            std::lock_guard lock(m_mutex);
            switch (event.kind) {
            case RunEvent::Kind::Progress: ++m_steps; break;
            case RunEvent::Kind::Notice: ++m_notices; break;
            case RunEvent::Kind::Ended:
                m_outcome = event.outcome;
                m_stats = event.stats;
                m_endedAt = Clock::now();
                break;
            default: break;
            }
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
        CPortRun run(recorder);
        run.Select(ChoosePortNumber(*port, {}));
        auto frames = std::make_shared<CDownloadImage>();
        frames->SetFile(file);
        ASSERT_TRUE(frames->BuildFrames());
        ASSERT_EQ(run.Start(frames), std::nullopt) << run.OpenError().Message();
        ASSERT_TRUE(recorder.WaitForSteps(1, 20s)) << "frame 0 was not acknowledged";

        // The worker now writes frame 1 into the held line; the write stays
        // pending for its whole time limit. Stop inside that time.
        std::this_thread::sleep_for(200ms);
        const auto stopAt = Clock::now();
        run.Stop();
        EXPECT_FALSE(run.Comm().IsConnected());
        ASSERT_TRUE(recorder.WaitForEnd(kFrameWriteLimit + 5s));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(recorder.m_endedAt - stopAt);
        // Windows aborts the write at the close's purge, Wine at the cancel
        // that follows it: a stop never waits on held output.
        EXPECT_LT(took, 200ms);
        run.StopAndJoin();
    }

    ASSERT_TRUE(recorder.m_outcome.has_value());
    EXPECT_EQ(*recorder.m_outcome, RunOutcome::Stopped);
    EXPECT_EQ(recorder.m_notices, 0);
    EXPECT_EQ(recorder.m_stats.acknowledged, 1u);
    EXPECT_EQ(recorder.m_stats.frames, 8u);
}

}  // namespace
}  // namespace veltrad
