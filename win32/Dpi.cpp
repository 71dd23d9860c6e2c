#include "win32/Dpi.h"

#include "win32/AppResources.h"

#include <initializer_list>

namespace veltrad {
namespace {

// A function of user32.dll that older systems lack; null there.
template <class Function>
Function User32Function(const char* name)
{
    // Through void (*)(): the documented way to cast a looked-up function.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The application icon drawn for `dpi`; the caller destroys it.
HICON LoadAppIcon(HINSTANCE instance, int sizeMetric, UINT dpi)
{
    const int size = MetricAtDpi(sizeMetric, dpi);
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
}

}  // namespace

UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi && window)
        return getDpi(window);
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

int MetricAtDpi(int metric, UINT dpi)
{
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(metric, dpi) : ::GetSystemMetrics(metric);
}

CWindowIcons::~CWindowIcons()
{
    for (HICON icon : {m_big, m_small}) {
        if (icon)
            DestroyIcon(icon);
    }
}

void CWindowIcons::Use(HINSTANCE instance, HWND window, UINT dpi)
{
    const HICON big = LoadAppIcon(instance, SM_CXICON, dpi);
    const HICON small = LoadAppIcon(instance, SM_CXSMICON, dpi);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    for (HICON old : {m_big, m_small}) {
        if (old)
            DestroyIcon(old);
    }
    m_big = big;
    m_small = small;
}

}  // namespace veltrad
