// The quiet after a start or a box's opening, on a fake clock, to the millisecond.

#include "window/KeyQuiet.h"

#include "download/ScriptedPort.h"

#include <gtest/gtest.h>

namespace veltrad::test {
namespace {

TEST(KeyQuiet, TakesNoKeyUntilTheQuietIsOverAndNeverARepeat)
{
    const struct {
        std::uint32_t start;
        std::uint32_t now;
        bool repeat;
        bool takes;
    } cases[] = {
        {1000, 1000, false, false},
        {1000, 1499, false, false},
        {1000, 1500, false, true},
        {1000, 1500, true, false},
        {0xFFFFFF00u, 0xFFFFFF00u + 499, false, false},  // the tick count wraps in the quiet
        {0xFFFFFF00u, 0xFFFFFF00u + 500, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " -> " << c.now << (c.repeat ? " repeated" : ""));
        FakeClock clock;
        CKeyQuiet quiet(clock, kBoxQuietMs);
        EXPECT_TRUE(quiet.Takes(false)) << "before any start";
        clock.now = c.start;
        quiet.Restart();
        clock.now = c.now;
        EXPECT_EQ(quiet.Takes(c.repeat), c.takes);
    }
}

TEST(KeyQuiet, OnceOverAWrappedTickCountDoesNotMakeItQuietAgain)
{
    FakeClock clock;
    CKeyQuiet quiet(clock, kBoxQuietMs);
    quiet.Restart();
    clock.now = kBoxQuietMs;
    EXPECT_TRUE(quiet.Takes(false));
    clock.now = 0;  // 49.7 days later
    EXPECT_TRUE(quiet.Takes(false));
}

}  // namespace
}  // namespace veltrad::test
