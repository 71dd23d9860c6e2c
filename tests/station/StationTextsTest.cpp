// Why a tile's run ended, in Korean: each outcome its own words, with its
// figures; the sentences themselves are data.

#include "station/StationTexts.h"

#include "multiport/Outcome.h"

#include <gtest/gtest.h>

#include <set>

namespace veltrad::test {
namespace {

RunStats Stats(std::uint32_t acknowledged, std::uint32_t frames)
{
    RunStats stats;
    stats.acknowledged = acknowledged;
    stats.frames = frames;
    stats.seconds = 12.345;
    return stats;
}

TEST(StationTexts, EachEndHasItsOwnReasonWithItsFigures)
{
    RunStats gone = Stats(20, 40);
    gone.portGone = true;
    RunStats goneFirst = Stats(0, 40);
    goneFirst.portGone = true;
    RunStats held = Stats(20, 40);
    held.lastWriteCutShort = true;
    RunStats early = Stats(20, 40);
    early.earlyReplies = 3;
    const struct {
        RunOutcome outcome;
        RunStats stats;
        const char* figures;  // what the reason must hold
    } cases[] = {
        {RunOutcome::Completed, Stats(40, 40), "40개, 12.35 초"},
        {RunOutcome::TimedOut, Stats(0, 40), "5 초"},
        {RunOutcome::TimedOut, goneFirst, "확인된 프레임 0/40"},
        {RunOutcome::TimedOutAfterAck, Stats(20, 40), "확인된 프레임 20/40"},
        {RunOutcome::TimedOutAfterAck, gone, "확인된 프레임 20/40"},
        {RunOutcome::TimedOutAfterAck, held, "프레임 21/40"},
        {RunOutcome::TimedOutAfterAck, early, "확인된 프레임 20/40"},
        {RunOutcome::Refused, Stats(20, 40), "프레임 21/40"},
        {RunOutcome::Stopped, Stats(20, 40), "확인된 프레임 20/40"},
        {RunOutcome::EndHeld, Stats(40, 40), "XOFF"},
    };
    std::set<std::string> seen;
    for (const auto& c : cases) {
        const std::string reason = OutcomeReason(c.outcome, c.stats);
        SCOPED_TRACE(reason);
        EXPECT_NE(reason.find(c.figures), std::string::npos);
        EXPECT_TRUE(seen.insert(reason).second) << "two ends, one reason";
        // What to check stands beside the reason, not in it again.
        const OutcomeText text = TextOfOutcome(c.outcome);
        if (!text.hint.empty()) {
            EXPECT_EQ(reason.find(text.hint), std::string::npos);
        }
    }
    EXPECT_EQ(PortOpenFailedReason({"COM3", PortErrorReason::InUse, 0, {}}),
              "포트를 열 수 없습니다: COM3: 다른 프로그램이 사용 중입니다");
}

}  // namespace
}  // namespace veltrad::test
