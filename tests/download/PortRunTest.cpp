// Runs on their worker thread, through the real serial port object, against
// the simulated terminal on a pseudo-terminal: what only a real line shows
// (stale replies, an unplugged device, a stop), the start faults, runs that
// follow one another or go on side by side, and a thousand of them started
// and stopped at random. The outcomes in full are the exchange's tests.

#include "RunSupport.h"

#include "common/TempDir.h"
#include "download/PortRun.h"
#include "serial/CommThread.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>

namespace veltrad {
namespace {

using sim::CSimulator;
using sim::SimOptions;
using test::Count;
using test::MakeSim;
using test::TempDir;
using test::TestImage;
using test::WaitingListener;
using test::WarpClock;
using Kind = RunEvent::Kind;

std::vector<Kind> Kinds(const std::vector<RunEvent>& events)
{
    std::vector<Kind> kinds;
    for (const RunEvent& e : events)
        kinds.push_back(e.kind);
    return kinds;
}

PortChoice Device(const std::string& device) { return ChoosePort(device, {}); }

class PortRunTest : public ::testing::Test {
protected:
    // The frames of an image of `frames` blocks between zero blocks.
    std::shared_ptr<const CDownloadImage> Frames(std::uint32_t frames)
    {
        std::mt19937 rng(frames * 7919u + 1);
        m_image = test::MakeImage(rng, 1, frames, 1);
        auto image = std::make_shared<CDownloadImage>();
        image->SetFile(m_dir.Write("image.bin", m_image.file));
        EXPECT_TRUE(image->BuildFrames());
        return image;
    }
    // A run on `device` as the main window has it: a failed run leaves the port open.
    std::unique_ptr<CPortRun> Run(const std::string& device, IClock* clock = nullptr, bool closeAtEnd = false)
    {
        auto run = std::make_unique<CPortRun>(m_listener, PortRunSetup{clock, nullptr, {}, {}, closeAtEnd});
        run->Select(Device(device));
        return run;
    }
    RunOutcome EndOf(std::uint64_t run)
    {
        const auto end = m_listener.WaitForEnd(run);
        EXPECT_TRUE(end.has_value()) << "run " << run << " did not end";
        return end ? end->outcome : RunOutcome::Stopped;
    }

    TempDir m_dir;
    TestImage m_image;
    WaitingListener m_listener;
};

// ---------------------------------------------------------------- outcomes

struct OutcomeCase {
    const char* name;
    std::uint32_t frames;
    void (*options)(SimOptions&);
    RunOutcome outcome;
    Notice notice;
    std::uint32_t acknowledged;
    std::uint32_t resends;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

const OutcomeCase kOutcomes[] = {
    {"Completed", 5, [](SimOptions&) {}, RunOutcome::Completed, Notice::Complete, 5, 0},
    // The second ACK is stale by the time frame 4 goes out: the refusal of frame 4 counts.
    {"DoubleAckThenARefusalOfTheNextFrame", 6,
     [](SimOptions& o) {
         o.doubleAckFrame = 3;
         o.refuseFrame = 4;
         o.refuseTimes = 1;
     },
     RunOutcome::Completed, Notice::Complete, 6, 1},
    {"SilentAfterTwoFrames", 4, [](SimOptions& o) { o.silentAfter = 1; }, RunOutcome::TimedOutAfterAck,
     Notice::CommErrorRetry, 2, 0},
};

class PortRunOutcome : public PortRunTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(PortRunOutcome, EventsPortAndTerminalAgree)
{
    const OutcomeCase& c = GetParam();
    SimOptions options;
    c.options(options);
    auto sim = MakeSim(options);
    // 5000 ms of reply timeout pass in a quarter of a second.
    WarpClock clock(20);
    const bool completes = c.outcome == RunOutcome::Completed;
    auto run = Run(sim->DevicePath(), completes ? nullptr : &clock);
    ASSERT_EQ(run->Start(Frames(c.frames)), std::nullopt);
    EXPECT_EQ(run->Frames(), c.frames);
    const std::uint64_t id = run->RunId();
    const auto end = m_listener.WaitForEnd(id);
    ASSERT_TRUE(end.has_value());

    EXPECT_EQ(end->outcome, c.outcome);
    EXPECT_EQ(end->stats.acknowledged, c.acknowledged);
    EXPECT_EQ(end->acknowledged, c.acknowledged);
    EXPECT_EQ(end->stats.resends, c.resends);
    const auto events = m_listener.Events(id);
    ASSERT_EQ(Count(events, Kind::Progress), static_cast<int>(c.acknowledged));
    std::uint32_t counted = 0;
    for (const RunEvent& e : events) {
        if (e.kind == Kind::Progress) {
            EXPECT_EQ(e.acknowledged, ++counted) << "each step carries the count so far";
        }
    }
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].notice, c.notice);
    EXPECT_EQ(run->Comm().IsConnected(), !completes) << "a failure leaves the port to the stop";

    // The stop button after the run closes a port the run left open.
    run->Stop();
    EXPECT_FALSE(run->Comm().IsConnected());
    EXPECT_EQ(sim->WaitForEnd(std::chrono::milliseconds(completes ? 10000 : 0)), completes);
    EXPECT_EQ(sim->Counters().framesAccepted, c.acknowledged);
    if (completes) {
        EXPECT_EQ(sim->Image().baseAddress, m_image.firstOffset);
        EXPECT_EQ(sim->Image().bytes, m_image.span);
    }
}

INSTANTIATE_TEST_SUITE_P(Pty, PortRunOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

// The reply timeout 20 times fast, the line's time 100 times slow: a frame
// takes 1.2 s to cross the line, which the instant terminal's reply surely
// beats, however loaded the machine.
class CSlowLineClock final : public IClock {
public:
    std::uint32_t TickCount() override { return m_warp.TickCount(); }
    std::uint32_t MicroTickCount() override { return m_warp.MicroTickCount() / 100; }

private:
    WarpClock m_warp{20};
};

// A pty may be a relay to a real line: a reply sooner than a frame can cross
// one answers nothing, however fast the terminal behind it.
TEST_F(PortRunTest, RepliesSoonerThanTheLineAreNoRepliesOnAPtyToo)
{
    SimOptions instant;
    instant.pace = false;
    auto sim = MakeSim(instant);
    CSlowLineClock clock;
    auto run = Run(sim->DevicePath(), &clock);
    ASSERT_EQ(run->Start(Frames(3)), std::nullopt);
    const auto end = m_listener.WaitForEnd(run->RunId());
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->outcome, RunOutcome::TimedOut);
    EXPECT_EQ(end->stats.acknowledged, 0u);
    EXPECT_EQ(sim->Counters().acksSent, 1u) << "the terminal answered frame 0";
    run->Stop();
}

// An unplugged adapter: the port hangs up under the run, which ends at once
// as the silent terminal's outcome would, and leaves the port to the stop.
TEST_F(PortRunTest, UnpluggedPortEndsTheRunWithoutWaitingOutTheTimeout)
{
    SimOptions options;
    options.silentAfter = 0;
    auto sim = MakeSim(options);
    auto run = Run(sim->DevicePath());  // the real clock: 5 s cannot pass unseen
    ASSERT_EQ(run->Start(Frames(3)), std::nullopt);
    ASSERT_TRUE(sim->WaitForFramesReceived(2, std::chrono::seconds(10)));

    sim.reset();  // the pty's far end closes at its end: the port hangs up
    const auto unplugged = std::chrono::steady_clock::now();
    const auto end = m_listener.WaitForEnd(run->RunId());
    ASSERT_TRUE(end.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(2)) << "waited out the 5 s";
    EXPECT_EQ(end->outcome, RunOutcome::TimedOutAfterAck);
    EXPECT_TRUE(end->stats.portGone);
    EXPECT_TRUE(run->Comm().IsConnected()) << "left open, as after a timeout";
    run->Stop();
    EXPECT_FALSE(run->Comm().DeviceGone());
}

TEST_F(PortRunTest, StopWhileWaitingForAReplyEndsTheRunQuietly)
{
    SimOptions options;
    options.replyDelay = std::chrono::seconds(60);
    auto sim = MakeSim(options);
    auto run = Run(sim->DevicePath());
    ASSERT_EQ(run->Start(Frames(3)), std::nullopt);
    ASSERT_TRUE(sim->WaitForFramesReceived(1, std::chrono::seconds(10)));
    run->Stop();
    EXPECT_EQ(EndOf(run->RunId()), RunOutcome::Stopped);
    EXPECT_EQ(Kinds(m_listener.Events(run->RunId())), std::vector<Kind>{Kind::Ended})
        << "no notice; the stop gives the controls back itself";
    EXPECT_FALSE(run->Comm().IsConnected());
    EXPECT_EQ(sim->Counters().framesReceived, 1u);
}

// A run that the others outlast closes its port as it ends, so that a retry
// on it finds it free while they go on.
TEST_F(PortRunTest, RunsSideBySideShareOneImageAndAFailedOneFreesItsPortAtOnce)
{
    sim::SimOptions refusing;
    refusing.refuseFrame = 0;
    refusing.refuseTimes = 5;
    auto refuser = MakeSim(refusing);
    auto silent = MakeSim({}, false);
    std::vector<std::unique_ptr<sim::CSimulator>> terminals;
    std::vector<std::unique_ptr<CPortRun>> runs;
    auto image = Frames(24);
    for (const auto* device : {&refuser, &silent}) {
        runs.push_back(Run((*device)->DevicePath(), nullptr, /*closeAtEnd=*/true));
        ASSERT_EQ(runs.back()->Start(image), std::nullopt);
    }
    for (int i = 0; i < 2; ++i) {
        terminals.push_back(MakeSim({}));
        runs.push_back(Run(terminals.back()->DevicePath(), nullptr, true));
        ASSERT_EQ(runs.back()->Start(image), std::nullopt);
    }
    // The runs keep the frames alive.
    image.reset();
    EXPECT_EQ(EndOf(runs[0]->RunId()), RunOutcome::Refused);
    EXPECT_TRUE(runs[1]->IsRunning()) << "the silent one goes on";
    CCommThread retry;
    EXPECT_TRUE(retry.OpenDevice(refuser->DevicePath(), kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit))
        << retry.LastOpenError();
    retry.ClosePort();
    for (std::size_t i = 2; i < runs.size(); ++i) {
        EXPECT_EQ(EndOf(runs[i]->RunId()), RunOutcome::Completed);
        EXPECT_TRUE(terminals[i - 2]->WaitForEnd(std::chrono::seconds(10)));
        EXPECT_EQ(terminals[i - 2]->Image().bytes, m_image.span);
    }
    runs[1]->StopAndJoin();
    EXPECT_EQ(EndOf(runs[1]->RunId()), RunOutcome::Stopped);
}

// ------------------------------------------------------------ start faults

TEST_F(PortRunTest, AStartThatCannotRunSaysWhyAtOnceAndSendsNoEvent)
{
    auto sim = MakeSim({}, false);
    struct Case {
        const char* name;
        std::string port;
        std::function<void(CPortRun&)> prepare;
        std::uint32_t frames;
        RunOutcome outcome;
        std::string error;  // OpenError's words
    };
    const Case cases[] = {
        {"NothingToSend", sim->DevicePath(), [](CPortRun&) {}, 0, RunOutcome::NothingToSend, ""},
        {"PortDoesNotOpen", (m_dir / "no-such-tty").string(), [](CPortRun&) {}, 4, RunOutcome::PortOpenFailed,
         (m_dir / "no-such-tty").string() + ": no such device"},
        // The number as given, never wrapped to 16 bits.
        {"ComNumberBeyondTheList", "COM99999", [](CPortRun&) {}, 4, RunOutcome::PortOpenFailed,
         "COM99999: no such port (COM1 to COM50)"},
        {"NoPortGiven", "", [](CPortRun&) {}, 4, RunOutcome::PortOpenFailed, "no port was given"},
        {"WorkerCannotStart", sim->DevicePath(),
         [](CPortRun& r) {
             r.SetThreadLauncher([](std::function<void()>) -> std::thread {
                 throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
             });
         },
         2, RunOutcome::ThreadFailed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPortRun run(m_listener);
        run.Select(ChoosePort(c.port, {}));
        c.prepare(run);
        const auto frames = c.frames == 0 ? std::make_shared<CDownloadImage>() : Frames(c.frames);
        EXPECT_EQ(run.Start(frames), c.outcome);
        EXPECT_EQ(run.OpenError().Message(), c.error);
        EXPECT_FALSE(run.Comm().IsConnected());
        EXPECT_EQ(run.Frames(), c.frames);
        EXPECT_FALSE(run.IsRunning());
        EXPECT_TRUE(m_listener.All().empty());
        if (c.outcome == RunOutcome::ThreadFailed) {
            // The next start works.
            run.SetThreadLauncher(nullptr);
            sim->Start();
            ASSERT_EQ(run.Start(frames), std::nullopt);
            EXPECT_EQ(EndOf(run.RunId()), RunOutcome::Completed);
        }
    }
}

// --------------------------------------------------------- runs in a row

TEST_F(PortRunTest, ANewStartEndsTheEarlierRunBeforeItTouchesAnything)
{
    auto silent = MakeSim({}, false);
    auto terminal = MakeSim({});
    auto run = Run(silent->DevicePath());
    const auto frames = Frames(3);
    ASSERT_EQ(run->Start(frames), std::nullopt);
    const std::uint64_t first = run->RunId();

    run->Select(Device(terminal->DevicePath()));
    ASSERT_EQ(run->Start(frames), std::nullopt);
    const std::uint64_t second = run->RunId();
    EXPECT_NE(first, second);
    // The first run ended, stopped and silent, before the second one began.
    const auto firstEvents = m_listener.Events(first);
    ASSERT_EQ(Kinds(firstEvents), std::vector<Kind>{Kind::Ended});
    EXPECT_EQ(firstEvents[0].outcome, RunOutcome::Stopped);

    EXPECT_EQ(EndOf(second), RunOutcome::Completed);
    EXPECT_EQ(m_listener.Events(first).size(), 1u) << "nothing more from the first run";
    EXPECT_TRUE(terminal->WaitForEnd(std::chrono::seconds(10)));
    EXPECT_EQ(terminal->Image().bytes, m_image.span);
}

TEST_F(PortRunTest, TestOpeningThePortOrDestroyingTheRunStopsAndJoinsItFirst)
{
    auto silent = MakeSim({}, false);
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "test-opened");
        const std::size_t before = m_listener.All().size();
        auto run = Run(silent->DevicePath());
        ASSERT_EQ(run->Start(Frames(2)), std::nullopt);
        if (destroy) {
            run.reset();
        } else {
            EXPECT_TRUE(run->TestOpen());
            EXPECT_FALSE(run->IsRunning());
            EXPECT_FALSE(run->Comm().IsConnected());
        }
        const auto all = m_listener.All();
        const std::vector<RunEvent> events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        ASSERT_EQ(Kinds(events), std::vector<Kind>{Kind::Ended}) << "the worker had ended";
        EXPECT_EQ(events[0].outcome, RunOutcome::Stopped);
    }
}

// ------------------------------------------------------- start/stop churn

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

TEST_F(PortRunTest, AThousandRapidStartsStopsAndRestartsLeaveNothingBehind)
{
    std::mt19937 rng(Seed());
    const auto frames = Frames(40);
    WaitingListener& listener = m_listener;

    // A sanitizer runtime starts a helper thread with the first thread
    // created; let that happen before counting.
    std::thread([] {}).join();
    const std::size_t fdsBefore = CountEntries("/proc/self/fd");
    const std::size_t threadsBefore = CountEntries("/proc/self/task");
    std::uint64_t firstId = 0;
    {
        CPortRun run(listener, PortRunSetup{nullptr, nullptr, {}, {}, false});
        // A fresh terminal per cycle, so every run starts on one that
        // expects the first frame; the one before stays until the new run
        // has taken the port from it.
        std::unique_ptr<CSimulator> previous;
        std::unique_ptr<CSimulator> current;
        for (int i = 0; i < 1000; ++i) {
            previous = std::move(current);
            current = MakeSim({});
            run.Select(Device(current->DevicePath()));
            ASSERT_EQ(run.Start(frames), std::nullopt) << "cycle " << i;
            previous.reset();
            const std::uint64_t id = run.RunId();
            if (i == 0)
                firstId = id;
            switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
            case 0:  // stop at once
                run.Stop();
                break;
            case 1:  // stop once the run has got somewhere
                listener.WaitFor([id](const std::vector<RunEvent>& events) {
                    for (const RunEvent& e : events)
                        if (e.runId == id)
                            return true;
                    return false;
                });
                run.Stop();
                break;
            case 2:  // start again without a stop
                break;
            default:  // stop and wait for the worker
                run.StopAndJoin();
                break;
            }
        }
        run.StopAndJoin();
        EXPECT_FALSE(run.IsRunning());
        EXPECT_FALSE(run.Comm().IsConnected());
        EXPECT_EQ(run.RunId(), firstId + 999);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);

    // Every run ended exactly once, and nothing came after its end.
    std::vector<int> ends(1000, 0);
    std::vector<bool> over(1000, false);
    for (const RunEvent& e : listener.All()) {
        ASSERT_GE(e.runId, firstId);
        ASSERT_LT(e.runId, firstId + 1000);
        const std::size_t n = e.runId - firstId;
        EXPECT_FALSE(over[n]) << "event after the end of run " << e.runId;
        if (e.kind == Kind::Ended) {
            ++ends[n];
            over[n] = true;
        }
    }
    for (std::size_t n = 0; n < 1000; ++n)
        EXPECT_EQ(ends[n], 1) << "run " << firstId + n;
}

}  // namespace
}  // namespace veltrad
