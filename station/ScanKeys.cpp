#include "station/ScanKeys.h"

namespace veltrad {

KeyRoute CScanKeys::Route(ScanKey key, KeyFocus focus, bool fieldEmpty, std::uint32_t timeMs)
{
    const bool inScan = m_lastMs && timeMs - *m_lastMs < kScanKeyGapMs;
    m_lastMs = timeMs;
    switch (key) {
    case ScanKey::Character: return focus == KeyFocus::Elsewhere ? KeyRoute::IntoField : KeyRoute::AsUsual;
    // A space by hand presses the focused button; one inside a scan is part of the number.
    case ScanKey::Space: return focus == KeyFocus::Elsewhere && inScan ? KeyRoute::IntoField : KeyRoute::AsUsual;
    case ScanKey::Tab:
        if (!inScan)
            return KeyRoute::AsUsual;
        return focus == KeyFocus::TextField ? KeyRoute::Dropped : KeyRoute::IntoField;
    case ScanKey::Enter:
        if (focus == KeyFocus::TextField)
            return KeyRoute::AsUsual;  // ends the edit of that field
        if (!fieldEmpty)
            return KeyRoute::Number;
        // The second Enter of a CR LF, or a scan whose number went elsewhere: never a start.
        return inScan ? KeyRoute::Dropped : KeyRoute::StartAll;
    }
    return KeyRoute::AsUsual;
}

}  // namespace veltrad
