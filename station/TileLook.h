#pragma once
// How a tile looks and how the tiles share the window, the same in the Qt
// and the Win32 station: the colours as 0xRRGGBB, the grid's columns, and
// what a tile short of room leaves out.

#include "station/StationTexts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace veltrad {

struct TileLook {
    std::uint32_t background;
    std::uint32_t word;  // the state word's colour
};

// Colours a glance tells apart at a line: grey idle, pale when unplugged,
// blue loading, green complete, red failed.
constexpr TileLook LookOf(TileState state)
{
    switch (state) {
    case TileState::Idle: return {0xeeeeee, 0x333333};
    case TileState::NotPresent: return {0xf7f7f7, 0xa0a0a0};
    case TileState::Loading: return {0xdceaf7, 0x1d5fa8};
    case TileState::Complete: return {0xd8f0d8, 0x1e7a1e};
    case TileState::Failed: return {0xf8d7d7, 0xb01c1c};
    }
    return {0xeeeeee, 0x333333};
}

inline constexpr std::uint32_t kTileBorder = 0xb0b0b0;
inline constexpr std::uint32_t kTileSelectedBorder = 0x1d5fa8;  // where the next scan goes

// Columns for `count` tiles when `fitting` tiles of the least width fit
// side by side: rows about two thirds of the columns, each row full but the
// last, so 4 tiles are 2 by 2, 8 are 4 by 2 and 16 are 6, 6 and 4; where
// fewer fit, as few rows as they allow, as even as can be (16 with 5 fitting
// are 4 by 4, not 5, 5, 5 and 1).
inline int TileGridColumns(int count, int fitting)
{
    const int rows = std::max(1, static_cast<int>(std::lround(std::sqrt(count / 1.5))));
    const int columns = std::max(1, std::min((count + rows - 1) / rows, fitting));
    const int neededRows = std::max(1, (count + columns - 1) / columns);
    return std::max(1, (count + neededRows - 1) / neededRows);
}

// The parts of a tile, from the most needed to the least: a tile short of
// room leaves out the least needed first. The state and the port say what a
// glance must, the reason's first line why; the buttons act; the bar, the
// rest of the reason, the serial number with the counters, what to check
// and the adapter come after. (On screen they stand in their own order:
// name, adapter, state, bar, reason, what to check, then the serial number
// and the counters above the buttons.)
enum class TilePart : std::size_t { Word, Name, Detail, Buttons, Bar, MoreDetail, Serial, Hint, Adapter };
inline constexpr std::size_t kTilePartCount = 9;

// What a part asks for: its lines (0: nothing to show) and their height in
// pixels. A reason of three lines can do with fewer; a button is one line.
struct TilePartNeed {
    int lines = 0;
    int lineHeight = 0;
};
using TilePartNeeds = std::array<TilePartNeed, kTilePartCount>;
using TilePartLines = std::array<int, kTilePartCount>;

inline TilePartNeed& NeedOf(TilePartNeeds& needs, TilePart part) { return needs[static_cast<std::size_t>(part)]; }
inline int LinesOf(const TilePartLines& lines, TilePart part) { return lines[static_cast<std::size_t>(part)]; }

// How many of its lines each part shows in `room` pixels with `gap` between
// two shown parts: the most needed first, as many as fit, at least one or
// none; once a part shows none, no less needed part shows any. The lines and
// gaps shown never take more than `room`.
TilePartLines FitTileParts(const TilePartNeeds& needs, int gap, int room);

}  // namespace veltrad
