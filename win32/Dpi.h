#pragma once
// Dots per inch as the manifest's per-monitor (v2) awareness has them: per
// window on Windows 10 (1607) and later, one for the screen before. And the
// application icon drawn for a window's dpi.

#include "win32/WinApi.h"

namespace veltrad {

inline constexpr int kBaseDpi = 96;

UINT WindowDpi(HWND window);
int MetricAtDpi(int metric, UINT dpi);
// `pixels96` at 96 dpi, at `dpi`.
inline int ScaleForDpi(int pixels96, UINT dpi) { return MulDiv(pixels96, static_cast<int>(dpi), kBaseDpi); }

// A window's caption and taskbar icons, loaded for its dpi; owned here.
class CWindowIcons {
public:
    CWindowIcons() = default;
    ~CWindowIcons();
    CWindowIcons(const CWindowIcons&) = delete;
    CWindowIcons& operator=(const CWindowIcons&) = delete;

    // Loads both for `dpi`, gives them to `window` and lets go of the old ones.
    void Use(HINSTANCE instance, HWND window, UINT dpi);
    HICON Big() const { return m_big; }

private:
    HICON m_big = nullptr;
    HICON m_small = nullptr;
};

}  // namespace veltrad
