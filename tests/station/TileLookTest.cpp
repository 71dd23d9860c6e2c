// What a tile short of room leaves out: the least needed parts first, whole
// lines only, never more than the room.

#include "station/TileLook.h"

#include <gtest/gtest.h>

namespace veltrad::test {
namespace {

constexpr int kGap = 3;

// A failed tile: state, port, the reason's first line, buttons, bar, two
// more lines of reason, the serial row, two lines of what to check, the
// adapter; 214 pixels with their gaps.
TilePartNeeds FailedTile()
{
    TilePartNeeds needs{};
    NeedOf(needs, TilePart::Word) = {1, 24};
    NeedOf(needs, TilePart::Name) = {1, 18};
    NeedOf(needs, TilePart::Detail) = {1, 16};
    NeedOf(needs, TilePart::Buttons) = {1, 28};
    NeedOf(needs, TilePart::Bar) = {1, 8};
    NeedOf(needs, TilePart::MoreDetail) = {2, 16};
    NeedOf(needs, TilePart::Serial) = {1, 16};
    NeedOf(needs, TilePart::Hint) = {2, 16};
    NeedOf(needs, TilePart::Adapter) = {1, 16};
    return needs;
}

int Used(const TilePartNeeds& needs, const TilePartLines& lines)
{
    int used = 0;
    int shown = 0;
    for (std::size_t i = 0; i < kTilePartCount; ++i) {
        used += lines[i] * needs[i].lineHeight;
        shown += lines[i] > 0 ? 1 : 0;
    }
    return used + (shown > 1 ? (shown - 1) * kGap : 0);
}

TEST(TileLook, TheGridIsAboutTwoThirdsAsHighAsWideAndEven)
{
    const struct {
        int count, fitting, columns;
    } cases[] = {
        {1, 8, 1}, {4, 8, 2}, {8, 8, 4}, {16, 8, 6}, {16, 5, 4}, {16, 3, 3}, {7, 8, 4}, {16, 0, 1}, {0, 8, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TileGridColumns(c.count, c.fitting), c.columns) << c.count << " tiles, " << c.fitting << " fit";
}

TEST(TileLook, ATileShortOfRoomLeavesOutTheLeastNeededFirst)
{
    // Lines of: word, name, detail, buttons, bar, more detail, serial, hint, adapter.
    const struct {
        int room;
        TilePartLines lines;
    } cases[] = {
        {214, {1, 1, 1, 1, 1, 2, 1, 2, 1}}, {213, {1, 1, 1, 1, 1, 2, 1, 2, 0}},  // the adapter goes first
        {194, {1, 1, 1, 1, 1, 2, 1, 1, 0}},                                      // then what to check, a line at a time
        {178, {1, 1, 1, 1, 1, 2, 1, 0, 0}}, {159, {1, 1, 1, 1, 1, 2, 0, 0, 0}},  // the serial row
        {140, {1, 1, 1, 1, 1, 1, 0, 0, 0}},  // the reason's last lines, a line at a time
        {121, {1, 1, 1, 1, 1, 0, 0, 0, 0}}, {105, {1, 1, 1, 1, 0, 0, 0, 0, 0}},  // the bar
        {94, {1, 1, 1, 0, 0, 0, 0, 0, 0}},                                       // the buttons
        {64, {1, 1, 1, 0, 0, 0, 0, 0, 0}},  {63, {1, 1, 0, 0, 0, 0, 0, 0, 0}},   // the reason's first line
        {23, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    const TilePartNeeds needs = FailedTile();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room);
        const TilePartLines lines = FitTileParts(needs, kGap, c.room);
        EXPECT_EQ(lines, c.lines);
        EXPECT_LE(Used(needs, lines), c.room);
    }
}

TEST(TileLook, APartWithNothingToShowTakesNoRoomAndHoldsNothingBack)
{
    TilePartNeeds needs = FailedTile();
    NeedOf(needs, TilePart::Detail) = {0, 16};  // idle: no reason
    NeedOf(needs, TilePart::MoreDetail) = {0, 16};
    NeedOf(needs, TilePart::Hint) = {0, 16};
    const TilePartLines lines = FitTileParts(needs, kGap, 130);
    EXPECT_EQ(lines, (TilePartLines{1, 1, 0, 1, 1, 0, 1, 0, 1}));
    EXPECT_LE(Used(needs, lines), 130);
}

}  // namespace
}  // namespace veltrad::test
