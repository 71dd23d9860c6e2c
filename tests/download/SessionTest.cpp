// Download runs on their worker thread, through the real serial port object,
// against the simulated terminal on a pseudo-terminal: what only a real line
// shows (stale replies, an unplugged device, a stop), the start faults, and
// runs that follow one another, and a thousand of them started and stopped at
// random. The outcomes in full are the exchange's tests.

#include "RunSupport.h"

#include "common/TempDir.h"
#include "download/DownloadSession.h"

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
using test::EventKind;
using test::MakeSim;
using test::RunEvent;
using test::TempDir;
using test::TestImage;
using test::WaitingObserver;
using test::WarpClock;

std::vector<EventKind> Kinds(const std::vector<RunEvent>& events)
{
    std::vector<EventKind> kinds;
    for (const RunEvent& e : events)
        kinds.push_back(e.kind);
    return kinds;
}

class SessionTest : public ::testing::Test {
protected:
    std::filesystem::path WriteImage(std::uint32_t frames)
    {
        std::mt19937 rng(frames * 7919u + 1);
        m_image = test::MakeImage(rng, 1, frames, 1);
        return m_dir.Write("image.bin", m_image.file);
    }
    // A session on `device` with an image of `frames` frames, not started.
    std::unique_ptr<CDownloadSession> Session(const std::string& device, std::uint32_t frames, IClock* clock = nullptr)
    {
        auto session = std::make_unique<CDownloadSession>(m_observer, clock);
        session->SelectDevice(device);
        EXPECT_TRUE(session->OpenFile(WriteImage(frames)));
        return session;
    }
    RunOutcome EndOf(std::uint64_t run)
    {
        const auto end = m_observer.WaitForEnd(run);
        EXPECT_TRUE(end.has_value()) << "run " << run << " did not end";
        return end ? static_cast<RunOutcome>(end->value) : RunOutcome::Stopped;
    }

    TempDir m_dir;
    TestImage m_image;
    WaitingObserver m_observer;
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

class SessionOutcome : public SessionTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(SessionOutcome, EventsPortAndTerminalAgree)
{
    const OutcomeCase& c = GetParam();
    SimOptions options;
    c.options(options);
    auto sim = MakeSim(options);
    // 5000 ms of reply timeout pass in a quarter of a second.
    WarpClock clock(20);
    const bool completes = c.outcome == RunOutcome::Completed;
    auto session = Session(sim->DevicePath(), c.frames, completes ? nullptr : &clock);
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    EXPECT_EQ(session->FrameCount(), c.frames);
    const std::uint64_t run = session->CurrentRunId();
    const auto end = m_observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());

    EXPECT_EQ(static_cast<RunOutcome>(end->value), c.outcome);
    EXPECT_EQ(end->stats.acknowledged, c.acknowledged);
    EXPECT_EQ(end->stats.resends, c.resends);
    EXPECT_EQ(m_observer.Count(run, EventKind::Step), static_cast<int>(c.acknowledged));
    const auto events = m_observer.Events(run);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(static_cast<Notice>(events[events.size() - 2].value), c.notice);
    EXPECT_EQ(session->Comm().IsConnected(), !completes) << "a failure leaves the port to the stop";

    // The stop button after the run closes a port the run left open.
    session->OnStop();
    EXPECT_FALSE(session->Comm().IsConnected());
    EXPECT_EQ(sim->WaitForEnd(std::chrono::milliseconds(completes ? 10000 : 0)), completes);
    EXPECT_EQ(sim->Counters().framesAccepted, c.acknowledged);
    if (completes) {
        EXPECT_EQ(sim->Image().baseAddress, m_image.firstOffset);
        EXPECT_EQ(sim->Image().bytes, m_image.span);
    }
}

INSTANTIATE_TEST_SUITE_P(Pty, SessionOutcome, ::testing::ValuesIn(kOutcomes),
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
TEST_F(SessionTest, RepliesSoonerThanTheLineAreNoRepliesOnAPtyToo)
{
    SimOptions instant;
    instant.pace = false;
    auto sim = MakeSim(instant);
    CSlowLineClock clock;
    auto session = Session(sim->DevicePath(), 3, &clock);
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    const auto end = m_observer.WaitForEnd(session->CurrentRunId());
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::TimedOut);
    EXPECT_EQ(end->stats.acknowledged, 0u);
    EXPECT_EQ(sim->Counters().acksSent, 1u) << "the terminal answered frame 0";
}

// An unplugged adapter: the port hangs up under the run, which ends at once
// as the silent terminal's outcome would, and leaves the port to the stop.
TEST_F(SessionTest, UnpluggedPortEndsTheRunWithoutWaitingOutTheTimeout)
{
    SimOptions options;
    options.silentAfter = 0;
    auto sim = MakeSim(options);
    auto session = Session(sim->DevicePath(), 3);  // the real clock: 5 s cannot pass unseen
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    const std::uint64_t run = session->CurrentRunId();
    ASSERT_TRUE(sim->WaitForFramesReceived(2, std::chrono::seconds(10)));

    sim.reset();  // the pty's far end closes at its end: the port hangs up
    const auto unplugged = std::chrono::steady_clock::now();
    const auto end = m_observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(2)) << "waited out the 5 s";
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::TimedOutAfterAck);
    EXPECT_TRUE(end->stats.portGone);
    EXPECT_TRUE(session->Comm().IsConnected()) << "left open, as after a timeout";
    session->OnStop();
    EXPECT_FALSE(session->Comm().DeviceGone());
}

TEST_F(SessionTest, StopWhileWaitingForAReplyEndsTheRunQuietly)
{
    SimOptions options;
    options.replyDelay = std::chrono::seconds(60);
    auto sim = MakeSim(options);
    auto session = Session(sim->DevicePath(), 3);
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    ASSERT_TRUE(sim->WaitForFramesReceived(1, std::chrono::seconds(10)));
    session->OnStop();
    const std::uint64_t run = session->CurrentRunId();
    EXPECT_EQ(EndOf(run), RunOutcome::Stopped);
    EXPECT_EQ(Kinds(m_observer.Events(run)), std::vector<EventKind>{EventKind::Ended})
        << "no notice; the stop gives the controls back itself";
    EXPECT_FALSE(session->Comm().IsConnected());
    EXPECT_EQ(sim->Counters().framesReceived, 1u);
}

// ------------------------------------------------------------ start faults

TEST_F(SessionTest, AStartThatCannotRunTouchesNothingElse)
{
    auto sim = MakeSim({}, false);
    struct Case {
        const char* name;
        std::function<void(CDownloadSession&)> prepare;
        StartResult result;
        bool portOpenAfter;  // the port as it was before, or closed again
        std::uint32_t frames;
    };
    const Case cases[] = {
        {"NothingToSend",
         [&](CDownloadSession& s) { s.OpenFile(m_dir.Write("zeros.bin", std::vector<std::uint8_t>(1000, 0))); },
         StartResult::NothingToSend, false, 0},
        // An open port stays as it was.
        {"UnreadableFile",
         [&](CDownloadSession& s) {
             s.Comm().OpenDevice(sim->DevicePath(), kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
             s.Image().SetFile(m_dir / "missing.bin");
         },
         StartResult::FileError, true, 0},
        {"PortDoesNotOpen",
         [&](CDownloadSession& s) {
             s.SelectDevice((m_dir / "no-such-tty").string());
             s.OpenFile(WriteImage(4));
         },
         StartResult::PortOpenFailed, false, 4},
        {"WorkerCannotStart",
         [&](CDownloadSession& s) {
             s.OpenFile(WriteImage(2));
             s.SetThreadLauncher([](std::function<void()>) -> std::thread {
                 throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
             });
         },
         StartResult::ThreadFailed, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDownloadSession session(m_observer);
        session.SelectDevice(sim->DevicePath());
        c.prepare(session);
        EXPECT_EQ(session.OnDownload(), c.result);
        EXPECT_EQ(session.Comm().IsConnected(), c.portOpenAfter);
        EXPECT_EQ(session.FrameCount(), c.frames);
        EXPECT_FALSE(session.IsRunning());
        EXPECT_TRUE(m_observer.All().empty());
        if (c.result == StartResult::ThreadFailed) {
            // The next start works.
            session.SetThreadLauncher(nullptr);
            sim->Start();
            ASSERT_EQ(session.OnDownload(), StartResult::Started);
            EXPECT_EQ(EndOf(session.CurrentRunId()), RunOutcome::Completed);
        }
    }
}

TEST_F(SessionTest, SessionsSendOneSharedImageSideBySide)
{
    auto image = std::make_shared<CDownloadImage>();
    image->SetFile(WriteImage(24));
    ASSERT_TRUE(image->BuildFrames());
    std::vector<std::unique_ptr<sim::CSimulator>> terminals;
    std::vector<std::unique_ptr<CDownloadSession>> sessions;
    for (int i = 0; i < 2; ++i) {
        terminals.push_back(MakeSim({}));
        sessions.push_back(std::make_unique<CDownloadSession>(m_observer));
        sessions.back()->SelectDevice(terminals.back()->DevicePath());
        ASSERT_EQ(sessions.back()->StartDownload(image), StartResult::Started);
    }
    // The sessions keep the frames alive; their own images stay unread.
    image.reset();
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        EXPECT_EQ(EndOf(sessions[i]->CurrentRunId()), RunOutcome::Completed);
        EXPECT_TRUE(sessions[i]->Image().m_FrameList.empty());
        EXPECT_TRUE(terminals[i]->WaitForEnd(std::chrono::seconds(10)));
        EXPECT_EQ(terminals[i]->Image().bytes, m_image.span);
    }
    EXPECT_EQ(sessions[0]->StartDownload(std::make_shared<CDownloadImage>()), StartResult::NothingToSend);
    EXPECT_FALSE(sessions[0]->Comm().IsConnected());
}

// --------------------------------------------------------- runs in a row

TEST_F(SessionTest, ANewStartEndsTheEarlierRunBeforeItTouchesAnything)
{
    auto silent = MakeSim({}, false);
    auto terminal = MakeSim({});
    auto session = Session(silent->DevicePath(), 3);
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    const std::uint64_t first = session->CurrentRunId();

    session->SelectDevice(terminal->DevicePath());
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    const std::uint64_t second = session->CurrentRunId();
    EXPECT_NE(first, second);
    // The first run ended, stopped and silent, before the second one began.
    const auto firstEvents = m_observer.Events(first);
    ASSERT_EQ(Kinds(firstEvents), std::vector<EventKind>{EventKind::Ended});
    EXPECT_EQ(static_cast<RunOutcome>(firstEvents[0].value), RunOutcome::Stopped);

    EXPECT_EQ(EndOf(second), RunOutcome::Completed);
    EXPECT_EQ(m_observer.Events(first).size(), 1u) << "nothing more from the first run";
    EXPECT_TRUE(terminal->WaitForEnd(std::chrono::seconds(10)));
    EXPECT_EQ(terminal->Image().bytes, m_image.span);
}

TEST_F(SessionTest, TestOpeningAPortOrDestroyingTheSessionStopsAndJoinsTheRunFirst)
{
    auto silent = MakeSim({}, false);
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "test-opened");
        const std::size_t before = m_observer.All().size();
        auto session = Session(silent->DevicePath(), 2);
        ASSERT_EQ(session->OnDownload(), StartResult::Started);
        if (destroy) {
            session.reset();
        } else {
            EXPECT_TRUE(session->TestSelectedPort());
            EXPECT_FALSE(session->IsRunning());
            EXPECT_FALSE(session->Comm().IsConnected());
        }
        const auto all = m_observer.All();
        const std::vector<RunEvent> events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        ASSERT_EQ(Kinds(events), std::vector<EventKind>{EventKind::Ended}) << "the worker had ended";
        EXPECT_EQ(static_cast<RunOutcome>(events[0].value), RunOutcome::Stopped);
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

TEST_F(SessionTest, AThousandRapidStartsStopsAndRestartsLeaveNothingBehind)
{
    std::mt19937 rng(Seed());
    const auto file = WriteImage(40);
    WaitingObserver& observer = m_observer;

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
            current = MakeSim({});
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
