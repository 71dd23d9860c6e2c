#pragma once
// How a tile looks and how the tiles share the window, the same in the Qt
// and the Win32 station: the colours as 0xRRGGBB, the grid's columns.

#include "station/StationTexts.h"

#include <algorithm>
#include <cmath>
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
// last, so 4 tiles are 2 by 2, 8 are 4 by 2 and 16 are 6, 6 and 4.
inline int TileGridColumns(int count, int fitting)
{
    const int rows = std::max(1, static_cast<int>(std::lround(std::sqrt(count / 1.5))));
    const int columns = (count + rows - 1) / rows;
    return std::max(1, std::min(columns, fitting));
}

}  // namespace veltrad
