// Many runs in a row over pseudo-terminals: random refusals, delays and line
// holds, each ending with the terminal holding exactly the file's non-zero
// span; and rapid start/stop/restart cycles that must leave no descriptor,
// no thread and no run behind.

#include "RunSupport.h"

#include "common/TempDir.h"
#include "download/DownloadSession.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace veltrad {
namespace {

using sim::CSimulator;
using sim::SimOptions;
using test::EventKind;
using test::RunEvent;
using test::TempDir;
using test::WaitingObserver;

// Printed, so that a failing run can be repeated.
std::uint32_t Seed()
{
    const char* fixed = std::getenv("VELTRAD_TEST_SEED");
    const std::uint32_t seed =
        fixed != nullptr ? static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
    std::printf("seed %u (set VELTRAD_TEST_SEED to repeat)\n", seed);
    return seed;
}

std::size_t CountEntries(const char* folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

TEST(SessionStress, TwoHundredRandomRunsDeliverTheNonZeroSpanByteForByte)
{
    const std::uint32_t seed = Seed();
    std::mt19937 rng(seed);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    TempDir dir;
    WaitingObserver observer;
    CDownloadSession session(observer);
    for (int i = 0; i < 200; ++i) {
        const auto lead = static_cast<std::uint32_t>(pick(0, 2));
        const auto frames = static_cast<std::uint32_t>(pick(1, 6));
        const auto trail = static_cast<std::uint32_t>(pick(0, 2));
        test::TestImage image = test::MakeImage(rng, lead, frames, trail);
        if (trail == 0) {
            // A file that ends inside its last block: the block goes out zero-filled.
            const auto cut = static_cast<std::size_t>(pick(0, 127));
            image.file.resize(image.file.size() - cut);
            std::fill(image.span.end() - static_cast<std::ptrdiff_t>(cut), image.span.end(), 0);
        }

        SimOptions options;
        options.replyDelay = std::chrono::milliseconds(pick(0, 2));
        if (pick(0, 1) == 1) {
            options.refuseFrame = static_cast<std::size_t>(pick(0, static_cast<int>(frames) - 1));
            options.refuseTimes = pick(1, 4);
        }
        if (pick(0, 3) == 0) {
            options.xoffBeforeFrame = static_cast<std::size_t>(pick(0, static_cast<int>(frames) - 1));
            options.xoffHold = std::chrono::milliseconds(pick(1, 5));
        }
        std::string error;
        auto sim = CSimulator::CreateOnPty(options, error);
        ASSERT_TRUE(sim) << error;
        sim->Start();

        session.SelectDevice(sim->DevicePath());
        ASSERT_TRUE(session.OpenFile(dir.Write("image.bin", image.file)));
        ASSERT_EQ(session.OnDownload(), StartResult::Started) << "run " << i;
        const auto end = observer.WaitForEnd(session.CurrentRunId());
        ASSERT_TRUE(end.has_value()) << "run " << i;
        ASSERT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Completed) << "run " << i << ", seed " << seed;
        EXPECT_EQ(end->stats.resends, options.refuseFrame ? static_cast<std::uint32_t>(options.refuseTimes) : 0u);
        ASSERT_TRUE(sim->WaitForEnd(std::chrono::seconds(10))) << "run " << i;
        const sim::ReceivedImage received = sim->Image();
        ASSERT_EQ(received.baseAddress, image.firstOffset) << "run " << i;
        ASSERT_EQ(received.bytes, image.span) << "run " << i << ", seed " << seed;
    }
}

TEST(SessionStress, AThousandRapidStartsStopsAndRestartsLeaveNothingBehind)
{
    const std::uint32_t seed = Seed();
    std::mt19937 rng(seed);

    TempDir dir;
    std::mt19937 imageRng(1);
    const test::TestImage image = test::MakeImage(imageRng, 0, 40, 0);
    const auto file = dir.Write("image.bin", image.file);
    WaitingObserver observer;

    // A sanitizer runtime starts a helper thread with the first thread
    // created; let that happen before counting.
    std::thread([] {}).join();
    const std::size_t fdsBefore = CountEntries("/proc/self/fd");
    const std::size_t threadsBefore = CountEntries("/proc/self/task");
    {
        CDownloadSession session(observer);
        ASSERT_TRUE(session.OpenFile(file));
        // A fresh terminal per cycle, so every run starts on one that
        // expects the first frame; the one before stays until the new run
        // has taken the port from it.
        std::unique_ptr<CSimulator> previous;
        std::unique_ptr<CSimulator> current;
        for (int i = 0; i < 1000; ++i) {
            previous = std::move(current);
            std::string error;
            current = CSimulator::CreateOnPty({}, error);
            ASSERT_TRUE(current) << error;
            current->Start();
            session.SelectDevice(current->DevicePath());
            ASSERT_EQ(session.OnDownload(), StartResult::Started) << "cycle " << i;
            previous.reset();
            const std::uint64_t run = session.CurrentRunId();
            switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
            case 0:  // stop at once
                session.OnStop();
                break;
            case 1:  // stop once the run has got somewhere
                observer.WaitFor([run](const std::vector<RunEvent>& events) {
                    for (const RunEvent& e : events)
                        if (e.runId == run)
                            return true;
                    return false;
                });
                session.OnStop();
                break;
            case 2:  // start again without a stop
                break;
            default:  // stop and wait for the worker
                session.StopAndJoin();
                break;
            }
        }
        session.StopAndJoin();
        EXPECT_FALSE(session.IsRunning());
        EXPECT_FALSE(session.Comm().IsConnected());
        EXPECT_EQ(session.CurrentRunId(), 1000u);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);

    // Every run ended exactly once, and nothing came after its end.
    std::vector<int> ends(1001, 0);
    std::vector<bool> over(1001, false);
    for (const RunEvent& e : observer.All()) {
        ASSERT_GE(e.runId, 1u);
        ASSERT_LE(e.runId, 1000u);
        EXPECT_FALSE(over[e.runId]) << "event after the end of run " << e.runId;
        if (e.kind == EventKind::Ended) {
            ++ends[e.runId];
            over[e.runId] = true;
        }
    }
    for (std::uint64_t run = 1; run <= 1000; ++run)
        EXPECT_EQ(ends[run], 1) << "run " << run;
}

}  // namespace
}  // namespace veltrad
