#include "station/TileLook.h"

namespace veltrad {

TilePartLines FitTileParts(const TilePartNeeds& needs, int gap, int room)
{
    TilePartLines shown{};
    int used = 0;
    bool any = false;
    for (std::size_t part = 0; part < kTilePartCount; ++part) {
        const TilePartNeed need = needs[part];
        if (need.lines <= 0 || need.lineHeight <= 0)
            continue;  // nothing to show takes no room
        const int left = room - used - (any ? gap : 0);
        const int fitting = std::min(need.lines, left / need.lineHeight);
        if (fitting < 1)
            break;
        shown[part] = fitting;
        used = room - left + fitting * need.lineHeight;
        any = true;
    }
    return shown;
}

}  // namespace veltrad
