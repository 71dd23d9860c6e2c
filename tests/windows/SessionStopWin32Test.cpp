// The stop button's path on Windows, against veltrad-sim: the simulator
// accepts frame 0 and holds the line with XOFF before frame 1, so the worker
// sits in a pending overlapped write when the stop closes the port from this
// thread. VELTRAD_TEST_SIM_PORT names the simulator's COM port;
// tests/windows/e2e.sh stop starts the simulator with that hold.

#include "Win32TestSupport.h"

#include "common/TempDir.h"
#include "common/WaitingListener.h"
#include "download/PortRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace veltrad {
namespace {

using namespace std::chrono_literals;
using namespace test;

TEST(Win32SessionStop, StopDuringAWriteHeldByXoffEndsTheRunWithoutANotice)
{
    const auto port = PortFromEnv("VELTRAD_TEST_SIM_PORT");
    ASSERT_TRUE(port.has_value()) << "VELTRAD_TEST_SIM_PORT names the simulator's port";

    // Eight non-zero blocks: frame 0 goes through, frame 1 meets the hold.
    const TempDir dir;
    const std::filesystem::path file = dir.Write("image.bin", std::vector<std::uint8_t>(8 * kBlockSize, 0x5A));

    WaitingListener listener;
    std::optional<RunEvent> end;
    {
        CPortRun run(listener);
        run.Select(ChoosePortNumber(*port, {}));
        auto frames = std::make_shared<CDownloadImage>();
        frames->SetFile(file);
        ASSERT_TRUE(frames->BuildFrames());
        ASSERT_EQ(run.Start(frames), std::nullopt) << run.OpenError().Message();
        const auto acknowledged = [](const std::vector<RunEvent>& events) {
            return Count(events, RunEvent::Kind::Progress) >= 1;
        };
        ASSERT_TRUE(listener.WaitFor(acknowledged, 20s)) << "frame 0 was not acknowledged";

        // The worker now writes frame 1 into the held line; the write stays
        // pending for its whole time limit. Stop inside that time.
        std::this_thread::sleep_for(200ms);
        const auto stopAt = Clock::now();
        run.Stop();
        EXPECT_FALSE(run.Comm().IsConnected());
        end = listener.WaitForEnd(run.RunId(), kFrameWriteLimit + 5s);
        ASSERT_TRUE(end.has_value());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopAt);
        // Windows aborts the write at the close's purge, Wine at the cancel
        // that follows it: a stop never waits on held output.
        EXPECT_LT(took, 200ms);
        run.StopAndJoin();
    }

    EXPECT_EQ(end->outcome, RunOutcome::Stopped);
    EXPECT_EQ(Count(listener.All(), RunEvent::Kind::Notice), 0);
    EXPECT_EQ(end->stats.acknowledged, 1u);
    EXPECT_EQ(end->stats.frames, 8u);
}

}  // namespace
}  // namespace veltrad
