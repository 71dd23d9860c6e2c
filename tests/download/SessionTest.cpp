// Download runs on their worker thread, through the real serial port object,
// against the simulated terminal on a pseudo-terminal: every outcome, every
// stop point, the start faults, and runs that follow one another.

#include "RunSupport.h"

#include "common/TempDir.h"
#include "download/DownloadSession.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace veltrad {
namespace {

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

// Opens once the test says so; holds a freshly started worker back.
class Gate {
public:
    void Open()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_cv.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

class SessionTest : public ::testing::Test {
protected:
    std::filesystem::path WriteImage(std::uint32_t frames, std::uint32_t lead = 1, std::uint32_t trail = 1)
    {
        std::mt19937 rng(frames * 7919u + lead);
        m_image = test::MakeImage(rng, lead, frames, trail);
        return m_dir.Write("image.bin", m_image.file);
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
    bool terminalOn;  // false: nobody answers on the line
    RunOutcome outcome;
    std::optional<Notice> notice;
    std::uint32_t acknowledged;
    std::uint32_t resends;
    std::size_t acceptedByTerminal;
    bool terminalSawTheEnd;
    bool portLeftOpen;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

const OutcomeCase kOutcomes[] = {
    {"Completed", 5, [](SimOptions&) {}, true, RunOutcome::Completed, Notice::Complete, 5, 0, 5, true, false},
    {"CompletedAfterFourRefusals", 5, [](SimOptions& o) { o.refuseFrame = 2; o.refuseTimes = 4; }, true,
     RunOutcome::Completed, Notice::Complete, 5, 4, 5, true, false},
    // The second ACK is stale by the time frame 4 goes out: the refusal of frame 4 counts.
    {"DoubleAckThenARefusalOfTheNextFrame", 6,
     [](SimOptions& o) { o.doubleAckFrame = 3; o.refuseFrame = 4; o.refuseTimes = 1; }, true,
     RunOutcome::Completed, Notice::Complete, 6, 1, 6, true, false},
    {"RefusedFiveTimes", 5, [](SimOptions& o) { o.refuseFrame = 1; o.refuseTimes = 5; }, true,
     RunOutcome::Refused, Notice::Fail, 1, 4, 1, false, true},
    {"GarbageAnswers", 3, [](SimOptions& o) { o.garbage = true; }, true,
     RunOutcome::Refused, Notice::Fail, 0, 4, 0, false, true},
    {"SilentTerminal", 3, [](SimOptions&) {}, false,
     RunOutcome::TimedOut, Notice::CommError, 0, 0, 0, false, true},
    {"SilentAfterTwoFrames", 4, [](SimOptions& o) { o.silentAfter = 1; }, true,
     RunOutcome::TimedOutAfterAck, Notice::CommErrorRetry, 2, 0, 2, false, true},
};

class SessionOutcome : public SessionTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(SessionOutcome, EventsPortAndTerminalAgree)
{
    const OutcomeCase& c = GetParam();
    SimOptions options;
    c.options(options);
    auto sim = MakeSim(options, c.terminalOn);
    // 5000 ms of reply timeout pass in a quarter of a second.
    WarpClock clock(20);
    const bool timesOut = c.outcome == RunOutcome::TimedOut || c.outcome == RunOutcome::TimedOutAfterAck;
    CDownloadSession session(m_observer, timesOut ? &clock : nullptr);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(c.frames)));

    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    EXPECT_EQ(session.FrameCount(), c.frames);
    const std::uint64_t run = session.CurrentRunId();
    const auto end = m_observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());

    EXPECT_EQ(static_cast<RunOutcome>(end->value), c.outcome);
    EXPECT_EQ(end->stats.frames, c.frames);
    EXPECT_EQ(end->stats.acknowledged, c.acknowledged);
    EXPECT_EQ(end->stats.resends, c.resends);
    EXPECT_EQ(m_observer.Count(run, EventKind::Step), static_cast<int>(c.acknowledged));
    EXPECT_EQ(session.Comm().IsConnected(), c.portLeftOpen);

    // The tail of the run: controls back first, then (after a completion)
    // the bar to 0, then the notice, then the end.
    std::vector<EventKind> tail = {EventKind::Controls};
    if (c.outcome == RunOutcome::Completed)
        tail.push_back(EventKind::Reset);
    tail.push_back(EventKind::Notice);
    tail.push_back(EventKind::Ended);
    const auto kinds = Kinds(m_observer.Events(run));
    ASSERT_GE(kinds.size(), tail.size());
    EXPECT_EQ(std::vector<EventKind>(kinds.end() - static_cast<std::ptrdiff_t>(tail.size()), kinds.end()), tail);
    const auto events = m_observer.Events(run);
    EXPECT_EQ(events[events.size() - tail.size()].value, 1) << "controls enabled, not disabled";
    EXPECT_EQ(static_cast<Notice>(events[events.size() - 2].value), *c.notice);

    // The stop button after the run closes a port the run left open, and
    // pressed again finds nothing to close.
    for (int press = 0; press < 2; ++press) {
        session.OnStop();
        EXPECT_FALSE(session.Comm().IsConnected());
    }

    EXPECT_EQ(sim->WaitForEnd(std::chrono::milliseconds(c.terminalSawTheEnd ? 10000 : 0)), c.terminalSawTheEnd);
    EXPECT_EQ(sim->Counters().framesAccepted, c.acceptedByTerminal);
    if (c.terminalSawTheEnd) {
        const sim::ReceivedImage received = sim->Image();
        EXPECT_EQ(received.baseAddress, m_image.firstOffset);
        EXPECT_EQ(received.bytes, m_image.span);
    } else {
        EXPECT_EQ(sim->Counters().eots, 0u) << "closing bytes only after a completion";
    }
}

INSTANTIATE_TEST_SUITE_P(Pty, SessionOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

// An unplugged adapter: the port hangs up under the run, which ends at once
// as the silent terminal's outcome would, and leaves the port to the stop.
TEST_F(SessionTest, UnpluggedPortEndsTheRunWithin200Ms)
{
    SimOptions options;
    options.silentAfter = 0;
    auto sim = MakeSim(options);
    CDownloadSession session(m_observer);  // the real clock: 5 s cannot pass unseen
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(3)));
    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const std::uint64_t run = session.CurrentRunId();
    ASSERT_TRUE(sim->WaitForFramesReceived(2, std::chrono::seconds(10)));

    sim.reset();  // the pty's far end closes at its end: the port hangs up
    const auto unplugged = std::chrono::steady_clock::now();
    const auto end = m_observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::milliseconds(200));
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::TimedOutAfterAck);
    EXPECT_TRUE(end->stats.portGone);
    EXPECT_EQ(end->stats.acknowledged, 1u);
    EXPECT_EQ(m_observer.Count(run, EventKind::Notice), 1);
    EXPECT_TRUE(session.Comm().IsConnected()) << "left open, as after a timeout";
    session.OnStop();
    EXPECT_FALSE(session.Comm().DeviceGone());
}

// ------------------------------------------------------------- stop points

void ExpectStoppedQuietly(WaitingObserver& observer, std::uint64_t run)
{
    const auto end = observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Stopped);
    EXPECT_EQ(observer.Count(run, EventKind::Notice), 0);
    EXPECT_EQ(observer.Count(run, EventKind::Controls), 0) << "the stop gives the controls back itself";
    EXPECT_EQ(observer.Count(run, EventKind::Reset), 0);
}

TEST_F(SessionTest, StopBeforeTheFirstFrameSendsNothing)
{
    auto sim = MakeSim({});
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(3)));
    Gate gate;
    session.SetThreadLauncher([&gate](std::function<void()> body) {
        return std::thread([&gate, body = std::move(body)] {
            gate.Wait();
            body();
        });
    });

    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    session.OnStop();
    gate.Open();
    ExpectStoppedQuietly(m_observer, session.CurrentRunId());
    session.StopAndJoin();
    EXPECT_EQ(sim->Counters().framesReceived, 0u);
}

// State letter of a thread of this process ('S' = asleep in the kernel).
char ThreadState(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

TEST_F(SessionTest, StopDuringAWriteHeldByXoff)
{
    SimOptions options;
    options.xoffBeforeFrame = 2;
    options.xoffHold = std::chrono::seconds(60);
    auto sim = MakeSim(options);
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(4)));
    std::atomic<pid_t> worker{0};
    m_observer.onStep = [&worker](std::uint64_t, int steps) {
        if (steps == 2)
            worker = static_cast<pid_t>(::syscall(SYS_gettid));
    };

    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const std::uint64_t run = session.CurrentRunId();
    ASSERT_TRUE(m_observer.WaitFor([&](const auto&) { return worker.load() != 0; }));
    // After the second ACK the worker's next wait is inside the write of
    // frame 2, which the XOFF holds for a minute.
    for (char state = ThreadState(worker.load()); state != 'S'; state = ThreadState(worker.load())) {
        ASSERT_NE(state, '?') << "the worker ended without being held";
        std::this_thread::yield();
    }
    session.OnStop();
    ExpectStoppedQuietly(m_observer, run);
    EXPECT_EQ(m_observer.Count(run, EventKind::Step), 2);
    EXPECT_EQ(sim->Counters().framesAccepted, 2u);
    EXPECT_EQ(sim->Counters().eots, 0u);
}

TEST_F(SessionTest, StopWhileWaitingForAReply)
{
    SimOptions options;
    options.replyDelay = std::chrono::seconds(60);
    auto sim = MakeSim(options);
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(3)));

    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    ASSERT_TRUE(sim->WaitForFramesReceived(1, std::chrono::seconds(10)));
    session.OnStop();
    ExpectStoppedQuietly(m_observer, session.CurrentRunId());
    EXPECT_FALSE(session.Comm().IsConnected());
    EXPECT_EQ(sim->Counters().framesReceived, 1u);
}

TEST_F(SessionTest, StopAfterTheLastAckStillRunsTheClosingSequenceWithoutAPort)
{
    auto sim = MakeSim({});
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(3)));
    // The operator's stop lands right after the last ACK was read.
    m_observer.onStep = [&session](std::uint64_t, int steps) {
        if (steps == 3)
            session.Comm().ClosePort();
    };

    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const std::uint64_t run = session.CurrentRunId();
    const auto end = m_observer.WaitForEnd(run);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Completed);
    const std::vector<EventKind> expected = {EventKind::Step, EventKind::Step, EventKind::Step, EventKind::Controls,
                                             EventKind::Reset, EventKind::Notice, EventKind::Ended};
    EXPECT_EQ(Kinds(m_observer.Events(run)), expected);
    EXPECT_EQ(static_cast<Notice>(m_observer.Events(run)[5].value), Notice::Complete);
    EXPECT_FALSE(sim->WaitForEnd(std::chrono::milliseconds(0)));
    EXPECT_EQ(sim->Counters().eots, 0u) << "the closing bytes went to no port";
}

// ------------------------------------------------------------ start faults

TEST_F(SessionTest, AnImageWithNothingToSendOpensNoPortAndStartsNoRun)
{
    auto sim = MakeSim({});
    for (const std::size_t size : {std::size_t{0}, std::size_t{1000}}) {
        CDownloadSession session(m_observer);
        session.SelectDevice(sim->DevicePath());
        ASSERT_TRUE(session.OpenFile(m_dir.Write("zeros.bin", std::vector<std::uint8_t>(size, 0))));
        EXPECT_EQ(session.OnDownload(), StartResult::NothingToSend);
        EXPECT_FALSE(session.Comm().IsConnected());
        EXPECT_FALSE(session.IsRunning());
        EXPECT_EQ(session.CurrentRunId(), 0u);
        EXPECT_EQ(session.FrameCount(), 0u);
    }
    EXPECT_TRUE(m_observer.All().empty());
}

TEST_F(SessionTest, AFileThatCannotBeReadTouchesNothingElse)
{
    auto sim = MakeSim({}, false);
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenSelectedPort());
    session.Image().SetFile(m_dir / "missing.bin");

    ImageError error;
    EXPECT_EQ(session.OnDownload(&error), StartResult::FileError);
    EXPECT_NE(error.Message().find("missing.bin"), std::string::npos) << error.Message();
    EXPECT_TRUE(session.Comm().IsConnected()) << "the port is left as it was";
    EXPECT_EQ(session.CurrentRunId(), 0u);
    EXPECT_TRUE(m_observer.All().empty());
}

TEST_F(SessionTest, APortThatDoesNotOpenKeepsTheFramesAndStartsNoRun)
{
    CDownloadSession session(m_observer);
    session.SelectDevice((m_dir / "no-such-tty").string());
    ASSERT_TRUE(session.OpenFile(WriteImage(4)));
    EXPECT_EQ(session.OnDownload(), StartResult::PortOpenFailed);
    EXPECT_EQ(session.FrameCount(), 4u);
    EXPECT_FALSE(session.Comm().LastOpenError().empty());
    EXPECT_FALSE(session.IsRunning());
    EXPECT_TRUE(m_observer.All().empty());
}

TEST_F(SessionTest, AWorkerThatCannotStartClosesThePortAndTheNextStartWorks)
{
    auto sim = MakeSim({});
    CDownloadSession session(m_observer);
    session.SelectDevice(sim->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(2)));
    session.SetThreadLauncher([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    EXPECT_EQ(session.OnDownload(), StartResult::ThreadFailed);
    EXPECT_FALSE(session.Comm().IsConnected());
    EXPECT_FALSE(session.IsRunning());
    EXPECT_TRUE(m_observer.All().empty());

    session.SetThreadLauncher(nullptr);
    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const auto end = m_observer.WaitForEnd(session.CurrentRunId());
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Completed);
}

// ------------------------------------------------------- one image, many

TEST_F(SessionTest, SessionsSendOneSharedImageSideBySide)
{
    auto image = std::make_shared<CDownloadImage>();
    image->SetFile(WriteImage(24));
    ASSERT_TRUE(image->BuildFrames());
    std::vector<std::unique_ptr<sim::CSimulator>> terminals;
    std::vector<std::unique_ptr<CDownloadSession>> sessions;
    for (int i = 0; i < 3; ++i) {
        terminals.push_back(MakeSim({}));
        sessions.push_back(std::make_unique<CDownloadSession>(m_observer));
        sessions.back()->SelectDevice(terminals.back()->DevicePath());
        ASSERT_EQ(sessions.back()->StartDownload(image), StartResult::Started);
        EXPECT_EQ(sessions.back()->FrameCount(), 24u);
    }
    // The sessions keep the frames alive; their own images stay unread.
    image.reset();
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const auto end = m_observer.WaitForEnd(sessions[i]->CurrentRunId());
        ASSERT_TRUE(end.has_value());
        EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Completed);
        EXPECT_TRUE(sessions[i]->Image().m_FrameList.empty());
        EXPECT_TRUE(terminals[i]->WaitForEnd(std::chrono::seconds(10)));
        EXPECT_EQ(terminals[i]->Image().bytes, m_image.span);
    }

    auto empty = std::make_shared<CDownloadImage>();
    CDownloadSession session(m_observer);
    session.SelectDevice(terminals[0]->DevicePath());
    EXPECT_EQ(session.StartDownload(empty), StartResult::NothingToSend);
    EXPECT_FALSE(session.Comm().IsConnected());
}

// --------------------------------------------------------- runs in a row

TEST_F(SessionTest, ANewStartEndsTheEarlierRunBeforeItTouchesAnything)
{
    auto silent = MakeSim({}, false);
    auto terminal = MakeSim({});
    CDownloadSession session(m_observer);
    session.SelectDevice(silent->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(3)));
    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const std::uint64_t first = session.CurrentRunId();

    session.SelectDevice(terminal->DevicePath());
    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    const std::uint64_t second = session.CurrentRunId();
    EXPECT_NE(first, second);
    // The first run ended, stopped and silent, before the second one began.
    const auto firstEvents = m_observer.Events(first);
    ASSERT_EQ(Kinds(firstEvents), std::vector<EventKind>{EventKind::Ended});
    EXPECT_EQ(static_cast<RunOutcome>(firstEvents[0].value), RunOutcome::Stopped);

    const auto end = m_observer.WaitForEnd(second);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(static_cast<RunOutcome>(end->value), RunOutcome::Completed);
    EXPECT_EQ(m_observer.Events(first).size(), 1u) << "nothing more from the first run";
    EXPECT_TRUE(terminal->WaitForEnd(std::chrono::seconds(10)));
    EXPECT_EQ(terminal->Image().bytes, m_image.span);
}

TEST_F(SessionTest, TestOpeningAPortDuringARunStopsTheRunFirst)
{
    auto silent = MakeSim({}, false);
    CDownloadSession session(m_observer);
    session.SelectDevice(silent->DevicePath());
    ASSERT_TRUE(session.OpenFile(WriteImage(2)));
    ASSERT_EQ(session.OnDownload(), StartResult::Started);
    EXPECT_TRUE(session.TestSelectedPort());
    EXPECT_FALSE(session.IsRunning());
    EXPECT_FALSE(session.Comm().IsConnected());
    const auto events = m_observer.Events(session.CurrentRunId());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(static_cast<RunOutcome>(events[0].value), RunOutcome::Stopped);
}

TEST_F(SessionTest, DestroyingTheSessionDuringARunStopsAndJoinsTheWorker)
{
    auto silent = MakeSim({}, false);
    auto session = std::make_unique<CDownloadSession>(m_observer);
    session->SelectDevice(silent->DevicePath());
    ASSERT_TRUE(session->OpenFile(WriteImage(3)));
    ASSERT_EQ(session->OnDownload(), StartResult::Started);
    const std::uint64_t run = session->CurrentRunId();
    session.reset();
    const auto events = m_observer.Events(run);
    ASSERT_EQ(events.size(), 1u) << "the worker had ended when the session went";
    EXPECT_EQ(static_cast<RunOutcome>(events[0].value), RunOutcome::Stopped);
}

}  // namespace
}  // namespace veltrad
