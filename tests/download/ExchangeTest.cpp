// The stop-and-wait exchange on a scripted port and a fake clock: every byte
// on the line, every millisecond of the reply timeout, every stop point.

#include "ScriptedPort.h"

#include "download/DownloadRun.h"
#include "image/Packet.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace veltrad {
namespace {

using test::FakeClock;
using test::LoggingObserver;
using test::ScriptedPort;
using test::ScriptedReply;

constexpr std::uint64_t kRunId = 7;

std::vector<CPacket> MakeFrames(int count)
{
    std::vector<CPacket> frames(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::array<std::uint8_t, kBlockSize> block{};
        block.fill(static_cast<std::uint8_t>(0x31 + i));
        FillFrame(frames[static_cast<std::size_t>(i)].m_byFrame, static_cast<std::uint32_t>(i * 128), block);
    }
    return frames;
}

// One run over a scripted port, on the test's thread.
struct Harness {
    explicit Harness(int frameCount, std::map<int, std::vector<ScriptedReply>> replies = {},
                     std::uint32_t clockStart = 1000)
        : frames(MakeFrames(frameCount))
    {
        clock.now = clockStart;
        port.replies = std::move(replies);
    }
    void Run()
    {
        CDownloadRun run(kRunId, frames, port, clock, observer);
        DownloadThreadProc(run);
    }

    std::vector<CPacket> frames;
    std::vector<std::string> log;
    FakeClock clock;
    ScriptedPort port{clock, log};
    LoggingObserver observer{log};
};

struct ExchangeCase {
    const char* name;
    int frames;
    std::map<int, std::vector<ScriptedReply>> replies;  // per transmission
    void (*setup)(ScriptedPort&, FakeClock&);           // stop points, timing
    RunOutcome outcome;
    std::vector<int> sent;  // frame index of each transmission that reached the line
    int eots;               // closing bytes on the line
    int repliesRead;
    std::optional<Notice> notice;
    int closesByWorker;
    int writesWhileClosed;
    std::optional<std::uint64_t> endsAtMs;  // time of the outcome on the port's clock
    std::optional<int> maxReads;            // polls allowed (no spinning)
};

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

void NoSetup(ScriptedPort&, FakeClock&) {}
void BusyPoll(ScriptedPort& p, FakeClock&) { p.maxWaitStepMs = 1; }
void Disconnected(ScriptedPort& p, FakeClock&) { p.connected = false; }

std::vector<ScriptedReply> Send(std::uint8_t byte, std::uint32_t delayMs = 3) { return {{delayMs, byte}}; }

// clang-format off
const ExchangeCase kCases[] = {
    {"TwoFramesFirstRefusedOnce", 2,
     {{0, Send(kNak)}, {1, Send(kAck)}, {2, Send(kAck)}}, NoSetup,
     RunOutcome::Completed, {0, 0, 1}, 3, 3, Notice::Complete, 1, 0, {}, {}},
    {"OneFrameAcceptedAtOnce", 1, {{0, Send(kAck, 0)}}, NoSetup,
     RunOutcome::Completed, {0}, 3, 1, Notice::Complete, 1, 0, {}, {}},
    {"FiveRefusalsEndTheRun", 1,
     {{0, Send(kNak)}, {1, Send(kNak)}, {2, Send(kNak)}, {3, Send(kNak)}, {4, Send(kNak)}},
     NoSetup, RunOutcome::Refused, {0, 0, 0, 0, 0}, 0, 5, Notice::Fail, 0, 0, {}, {}},
    {"FourRefusalsThenAckPassAndBudgetIsRenewed", 2,
     {{0, Send(kNak)}, {1, Send(kNak)}, {2, Send(kNak)}, {3, Send(0x00)}, {4, Send(kAck)},
      {5, Send(kNak)}, {6, Send(0xFF)}, {7, Send(kNak)}, {8, Send(kNak)}, {9, Send(kAck)}},
     NoSetup, RunOutcome::Completed, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}, 3, 10, Notice::Complete, 1, 0, {}, {}},
    {"RefusedAfterAnAckStillFails", 2,
     {{0, Send(kAck)}, {1, Send(kNak)}, {2, Send(kNak)}, {3, Send(kNak)}, {4, Send(kNak)},
      {5, Send(kNak)}},
     NoSetup, RunOutcome::Refused, {0, 1, 1, 1, 1, 1}, 0, 6, Notice::Fail, 0, 0, {}, {}},
    // Input already queued when a frame is written answers an earlier
    // transmission and is dropped; only what arrives after the write is a reply.
    {"ASecondRefusalByteIsDroppedBeforeTheResend", 1,
     {{0, {{3, kNak}, {3, kNak}}}, {1, Send(kAck)}}, NoSetup,
     RunOutcome::Completed, {0, 0}, 3, 2, Notice::Complete, 1, 0, {}, {}},
    {"AStaleSecondAckDoesNotAcknowledgeARefusedFrame", 5,
     {{0, Send(kAck)}, {1, Send(kAck)}, {2, Send(kAck)}, {3, {{3, kAck}, {3, kAck}}}, {4, Send(kNak)},
      {5, Send(kAck)}},
     NoSetup, RunOutcome::Completed, {0, 1, 2, 3, 4, 4}, 3, 6, Notice::Complete, 1, 0, {}, {}},
    // ACK, XOFF before the next frame, a stray 06 during the hold, XON, and a
    // refusal of what then arrives: the stray came before the frame left.
    {"AStrayAckDuringAnXoffHoldIsNoReply", 3,
     {{0, Send(kAck)}, {1, Send(kNak)}, {2, Send(kAck)}, {3, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.xoffHolds = {{3, 803}}; p.strays = {{400, kAck}}; },
     RunOutcome::Completed, {0, 1, 1, 2}, 3, 4, Notice::Complete, 1, 0, {}, {}},
    // XOFF for 1400 ms, past the write's limit (1135 ms), a stray 06 at 1303:
    // the cut-short frame goes again, whole, before any reply counts.
    {"AFrameCutShortByAHoldIsResentBeforeAnyReplyCounts", 2,
     {{0, Send(kAck)}, {2, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.xoffHolds = {{3, 1403}}; p.strays = {{1303, kAck}}; },
     RunOutcome::Completed, {0, 1}, 3, 2, Notice::Complete, 1, 0, {}, {}},
    {"AHoldThatOutlastsTheReplyTimeoutTimesOut", 2, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.xoffHolds = {{3, 60000}}; },
     // Writes of 1135 ms each, none of them whole, resent until 5000 ms
     // after the first one returned: six in all.
     RunOutcome::TimedOutAfterAck, {0}, 0, 1, Notice::CommErrorRetry, 0, 0, 3 + 6 * 1135, {}},
    {"EmptyPollAtExactly5000MsIsNoTimeout", 1, {{0, Send(kAck, 5001)}}, BusyPoll,
     RunOutcome::Completed, {0}, 3, 1, Notice::Complete, 1, 0, 5001, {}},
    {"FirstEmptyPollPast5000MsTimesOut", 1, {}, BusyPoll,
     RunOutcome::TimedOut, {0}, 0, 0, Notice::CommError, 0, 0, 5001, {}},
    {"SilentTerminalCostsOneWaitNotASpin", 1, {}, NoSetup,
     // One read per wait, one for the last millisecond, one before the write.
     RunOutcome::TimedOut, {0}, 0, 0, Notice::CommError, 0, 0, 5001, 5001 / kReplyWaitSliceMs + 3},
    {"ByteQueuedBeforeTimeoutButReadAfterCounts", 1, {{0, Send(kAck, 4990)}},
     [](ScriptedPort& p, FakeClock&) { p.lateWakeMs = 3000; },
     RunOutcome::Completed, {0}, 3, 1, Notice::Complete, 1, 0, 7990, {}},
    {"ResendDoesNotRenewTheStartTime", 1, {{0, Send(kNak, 4900)}}, BusyPoll,
     RunOutcome::TimedOut, {0, 0}, 0, 1, Notice::CommError, 0, 0, 5001, {}},
    {"StartTimeIsTakenWhenTheFirstWriteReturns", 1, {},
     [](ScriptedPort& p, FakeClock&) { p.writeDurationMs = 1000; },
     RunOutcome::TimedOut, {0}, 0, 0, Notice::CommError, 0, 0, 6001, {}},
    {"TickWrapDuringTheWaitIsNoTimeout", 2, {{0, Send(kAck, 4000)}, {1, Send(kAck, 4999)}},
     [](ScriptedPort& p, FakeClock& c) { p.maxWaitStepMs = 1; c.now = 0xFFFFF000u; },
     RunOutcome::Completed, {0, 1}, 3, 2, Notice::Complete, 1, 0, 8999, {}},
    {"TickWrapThenSilenceTimesOutOnTime", 1, {},
     [](ScriptedPort& p, FakeClock& c) { p.maxWaitStepMs = 1; c.now = 0xFFFFFFFFu - 2500; },
     RunOutcome::TimedOut, {0}, 0, 0, Notice::CommError, 0, 0, 5001, {}},
    {"TimeoutAfterAnAckIsTheRetryNotice", 3, {{0, Send(kAck)}}, NoSetup,
     RunOutcome::TimedOutAfterAck, {0, 1}, 0, 1, Notice::CommErrorRetry, 0, 0, {}, {}},
    {"UnpluggedBeforeAnyAckEndsAtOnceAsTheSilentTerminal", 2, {},
     [](ScriptedPort& p, FakeClock&) { p.goneAtMs = 100; },
     RunOutcome::TimedOut, {0}, 0, 0, Notice::CommError, 0, 0, 100, 3},
    {"UnpluggedAfterAnAckEndsAtOnceWithTheRetryNotice", 3, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.goneAtMs = 100; },
     RunOutcome::TimedOutAfterAck, {0, 1}, 0, 1, Notice::CommErrorRetry, 0, 0, 100, 6},
    {"StopBeforeTheFirstFrame", 2, {}, Disconnected,
     RunOutcome::Stopped, {}, 0, 0, {}, 0, 0, {}, 0},
    {"StopWhileWaitingForAReply", 2, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.closeAtMs = 100; },
     RunOutcome::Stopped, {0, 1}, 0, 1, {}, 0, 0, 100, {}},
    {"StopInsideAFrameWrite", 2, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.closeDuringTransmission = 1; },
     RunOutcome::Stopped, {0}, 0, 1, {}, 0, 1, {}, {}},
    {"StopBetweenARefusalAndItsResend", 2, {{0, Send(kNak)}},
     [](ScriptedPort& p, FakeClock&) { p.closeAfterRead = 1; },
     RunOutcome::Stopped, {0}, 0, 1, {}, 0, 1, {}, {}},
    // The closing bytes cannot leave a closed port: the terminal lacks its end.
    {"StopAfterTheLastAckLeavesTheRunStopped", 2, {{0, Send(kAck)}, {1, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.closeAfterRead = 2; },
     RunOutcome::Stopped, {0, 1}, 0, 2, {}, 0, 1, {}, {}},
    // A hold after the last ACK delays the closing bytes as long as a reply
    // may be awaited; past that, the terminal has not got its end.
    {"AShortHoldBeforeTheEndOnlyDelaysIt", 1, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.xoffHolds = {{3, 1500}}; },
     RunOutcome::Completed, {0}, 3, 1, Notice::Complete, 1, 0, 1500, {}},
    {"TheEndHeldPastTheReplyTimeoutIsNoCompletion", 1, {{0, Send(kAck)}},
     [](ScriptedPort& p, FakeClock&) { p.xoffHolds = {{3, 60000}}; },
     RunOutcome::EndHeld, {0}, 0, 1, Notice::Fail, 1, 0, 3 + 5 * 1001, {}},
};
// clang-format on

class ExchangeTable : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeTable, LineNoticesAndTiming)
{
    const ExchangeCase& c = GetParam();
    Harness h(c.frames, c.replies);
    c.setup(h.port, h.clock);
    h.Run();
    const ScriptedPort& port = h.port;
    const LoggingObserver& observer = h.observer;

    ASSERT_TRUE(observer.outcome.has_value());
    EXPECT_EQ(*observer.outcome, c.outcome);

    std::vector<std::uint8_t> expectedLine;
    std::set<int> distinct;
    for (int index : c.sent) {
        const auto& f = h.frames[static_cast<std::size_t>(index)].m_byFrame;
        expectedLine.insert(expectedLine.end(), f.begin(), f.end());
        distinct.insert(index);
    }
    expectedLine.insert(expectedLine.end(), static_cast<std::size_t>(c.eots), kEot);
    EXPECT_EQ(port.line, expectedLine);
    EXPECT_EQ(port.bytesRead, c.repliesRead);
    EXPECT_EQ(port.closesByWorker, c.closesByWorker);
    EXPECT_EQ(port.writesWhileClosed, c.writesWhileClosed);

    if (c.notice) {
        EXPECT_EQ(observer.notices, std::vector<Notice>{*c.notice});
    } else {
        EXPECT_TRUE(observer.notices.empty());
    }
    if (c.notice && *c.notice != Notice::Complete && c.outcome != RunOutcome::EndHeld) {
        // A failure gives the controls back before its notice and writes nothing more.
        const std::vector<std::string> tail(h.log.end() - 3, h.log.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"controls on", "notice", "ended"}));
    }
    if (c.endsAtMs) {
        EXPECT_EQ(port.Now(), *c.endsAtMs);
    }
    if (c.maxReads) {
        EXPECT_LE(port.reads, *c.maxReads);
    }

    // What the run reports about itself matches what happened on the line.
    const std::uint32_t acks = static_cast<std::uint32_t>(observer.steps);
    EXPECT_EQ(observer.stats.frames, static_cast<std::uint32_t>(c.frames));
    EXPECT_EQ(observer.stats.acknowledged, acks);
    EXPECT_EQ(observer.stats.portGone, port.goneAtMs.has_value()) << "only an unplugged device says so";
    if (c.writesWhileClosed == 0) {
        EXPECT_EQ(observer.stats.resends, port.transmissions - port.framesAttempted.size());
    }
    if (c.outcome == RunOutcome::Completed) {
        EXPECT_EQ(acks, static_cast<std::uint32_t>(c.frames));
    }
    EXPECT_EQ(observer.ended, 1);
    EXPECT_EQ(observer.endedRunId, kRunId);
    EXPECT_EQ(h.log.back(), "ended");
}

INSTANTIATE_TEST_SUITE_P(Exchange, ExchangeTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exchange, TwoFrameRunPutsExactly408BytesOnTheLineInTheDocumentedOrder)
{
    Harness h(2, {{0, Send(kNak)}, {1, Send(kAck)}, {2, Send(kAck)}});
    h.Run();
    EXPECT_EQ(h.port.line.size(), 408u);
    // Controls come back before the closing bytes; the notice after the close.
    const std::vector<std::string> expected = {
        "frame",       "read 15",    "frame",    "read 06",  "progress +1", "frame", "read 06", "progress +1",
        "controls on", "progress 0", "write 04", "write 04", "write 04",    "close", "notice",  "ended"};
    EXPECT_EQ(h.log, expected);
}

TEST(Exchange, AWriteHeldPastItsLimitIsToldApartFromASilentTerminal)
{
    struct Case {
        const char* name;
        int frames;
        std::map<int, std::vector<ScriptedReply>> replies;
        std::set<int> held;
        std::optional<int> stopInside;  // transmission that a stop cuts short
        std::optional<int> goneInside;  // transmission that an unplugged device cuts short
        RunOutcome outcome;
        bool cutShort;
        std::set<int> failing = {};  // transmissions whose write fails at once
    };
    const std::set<int> always = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<ScriptedReply> nak = Send(kNak);
    const Case cases[] = {
        {"held every time",
         2,
         {{0, Send(kAck)}},
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {},
         {},
         RunOutcome::TimedOutAfterAck,
         true},
        {"held first frame", 1, {}, always, {}, {}, RunOutcome::TimedOut, true},
        // A pause is no refusal: only the fifth refusal fails the frame.
        {"held twice, then four refusals",
         1,
         {{2, nak}, {3, nak}, {4, nak}, {5, nak}, {6, Send(kAck)}},
         {0, 1},
         {},
         {},
         RunOutcome::Completed,
         false},
        {"held twice, then five refusals",
         1,
         {{2, nak}, {3, nak}, {4, nak}, {5, nak}, {6, nak}},
         {0, 1},
         {},
         {},
         RunOutcome::Refused,
         false},
        {"refused, then held past the reply timeout",
         1,
         {{0, nak}},
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {},
         {},
         RunOutcome::TimedOut,
         true},
        // Resent whole at once; the terminal's refusal of what reached it of the
        // held frame then costs one more resend.
        {"held, then a whole resend",
         1,
         {{0, Send(kNak, 200)}, {2, Send(kAck)}},
         {0},
         {},
         {},
         RunOutcome::Completed,
         false},
        {"held, resent, then silence", 2, {{0, Send(kAck)}}, {1}, {}, {}, RunOutcome::TimedOutAfterAck, false},
        {"silent terminal", 1, {}, {}, {}, {}, RunOutcome::TimedOut, false},
        {"write cut short by a stop", 2, {{0, Send(kAck)}}, {}, 1, {}, RunOutcome::Stopped, false},
        // Not held: each costs a resend, or it would be written without end.
        {"writes that fail at once", 1, {}, {}, {}, {}, RunOutcome::TimedOut, false, always},
        // Unplugged at the end of a held write: the port still open, the write
        // ends short at its limit, yet the line went away rather than held.
        {"write cut short by an unplugging", 2, {{0, Send(kAck)}}, {}, {}, 1, RunOutcome::TimedOutAfterAck, false},
        {"held, then unplugged in the resend", 1, {}, {0}, {}, 1, RunOutcome::TimedOut, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.frames, c.replies);
        h.port.heldTransmissions = c.held;
        h.port.failedTransmissions = c.failing;
        h.port.closeDuringTransmission = c.stopInside;
        h.port.goneDuringTransmission = c.goneInside;
        h.Run();
        EXPECT_EQ(h.observer.outcome, c.outcome);
        EXPECT_EQ(h.observer.stats.lastWriteCutShort, c.cutShort);
        EXPECT_EQ(h.observer.stats.resends, h.port.transmissions - h.port.framesAttempted.size());
        EXPECT_EQ(h.observer.stats.portGone, c.goneInside.has_value());
    }
}

// On every port a frame needs 11.718 ms from the start of its write to
// arrive; a byte before that answers something earlier. Only a test's own
// port goes without.
TEST(Exchange, OnALineARepliesCountsOnlyOnceTheFrameCanHaveCrossedIt)
{
    struct Case {
        const char* name;
        bool lineTime;
        std::uint32_t writeMs;
        std::map<int, std::vector<ScriptedReply>> replies;
        RunOutcome outcome;
        std::uint32_t early;
        int transmissions;
        std::uint32_t stallMs = 0;  // before each read
    };
    const Case cases[] = {
        {"ACK at 12 ms", true, 0, {{0, Send(kAck, 12)}}, RunOutcome::Completed, 0, 1},
        {"ACK at 11 ms", true, 0, {{0, Send(kAck, 11)}}, RunOutcome::TimedOut, 1, 1},
        {"ACK at once without line time", false, 0, {{0, Send(kAck, 0)}}, RunOutcome::Completed, 0, 1},
        // A UART's write returns once the frame is out: nothing left to wait.
        {"ACK at once after a UART's write", true, 12, {{0, Send(kAck, 0)}}, RunOutcome::Completed, 0, 1},
        // A second ACK 1 ms behind the first lands on the next frame's line
        // time; the next frame's refusal is then its only reply.
        {"second ACK, then a refusal",
         true,
         0,
         {{0, {{12, kAck}, {13, kAck}}}, {1, Send(kNak, 12)}, {2, Send(kAck, 12)}},
         RunOutcome::Completed,
         1,
         3},
        // The worker judges at 11 ms, loses the processor, and reads at 13
        // ms what came at 12 ms: the reply, which a paced write that returns
        // near the line time meets every frame.
        {"ACK that came while the reader stalled", true, 11, {{0, Send(kAck, 1)}}, RunOutcome::Completed, 0, 1, 2},
        // Read together across the line time: only the last byte can be the
        // reply; taken for it, the stray would acknowledge the refused frame.
        {"stray and refusal read together",
         true,
         10,
         {{0, {{1, kAck}, {2, kNak}}}, {1, Send(kAck, 2)}, {2, Send(kAck, 2)}},
         RunOutcome::Completed,
         1,
         3,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(2 - (c.transmissions == 1), c.replies);
        h.port.hasLineTime = c.lineTime;
        h.port.writeDurationMs = c.writeMs;
        h.port.readStallMs = c.stallMs;
        h.Run();
        EXPECT_EQ(h.observer.outcome, c.outcome);
        EXPECT_EQ(h.observer.stats.earlyReplies, c.early);
        EXPECT_EQ(h.port.transmissions, c.transmissions);
    }
}

TEST(Exchange, ReplyTimesRunFromTheEndOfEachWriteToTheFirstReplyByte)
{
    struct Case {
        const char* name;
        int frames;
        std::map<int, std::vector<ScriptedReply>> replies;
        std::uint32_t writeMs;
        std::uint32_t clockStart;
        std::uint32_t timed;
        double medianMs;
        double p95Ms;
    };
    // A UART's write returns when the frame is out, after its 11.7 ms on the
    // line; a USB adapter's returns at once.
    constexpr std::uint32_t kUartWriteMs = 12;
    std::map<int, std::vector<ScriptedReply>> oneToTwenty;
    for (int i = 0; i < 20; ++i)
        oneToTwenty[i] = Send(kAck, static_cast<std::uint32_t>(i + 1));
    const Case cases[] = {
        // Even count: the mean of the middle two; nearest rank 19 of 20.
        {"OneToTwentyMs", 20, oneToTwenty, kUartWriteMs, 0, 20, 10.5, 19.0},
        {"OddCount", 3, {{0, Send(kAck, 5)}, {1, Send(kAck, 1)}, {2, Send(kAck, 9)}}, kUartWriteMs, 0, 3, 5.0, 9.0},
        // The write's own time does not count; the resend is timed from its own write.
        {"RefusalAndResend", 1, {{0, Send(kNak, 4)}, {1, Send(kAck, 2)}}, 40, 0, 2, 3.0, 4.0},
        {"TickWrapBetweenWriteAndReply", 1, {{0, Send(kAck, 7)}}, kUartWriteMs, 0xFFFFFFF0u, 1, 7.0, 7.0},
        // Counted from when the frame has left the line: 15 - 11.718 ms; a
        // reply before that counts as none.
        {"EarlyWriteReturnOfAUsbAdapter", 2, {{0, Send(kAck, 15)}, {1, Send(kAck, 5)}}, 0, 0, 2, 1.641, 3.282},
        {"SilentTerminal", 1, {}, kUartWriteMs, 0, 0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.frames, c.replies, c.clockStart);
        h.port.writeDurationMs = c.writeMs;
        h.Run();
        EXPECT_EQ(h.observer.stats.replies, c.timed);
        EXPECT_DOUBLE_EQ(h.observer.stats.replyMsMedian, c.medianMs);
        EXPECT_DOUBLE_EQ(h.observer.stats.replyMsP95, c.p95Ms);
    }
}

}  // namespace
}  // namespace veltrad
