#include "win32/QuietBox.h"

namespace veltrad {
namespace {

thread_local CQuietBox* t_innermost = nullptr;

bool IsKey(UINT message)
{
    return message == WM_KEYDOWN || message == WM_SYSKEYDOWN || message == WM_CHAR || message == WM_SYSCHAR;
}

}  // namespace

CQuietBox::CQuietBox() : m_quiet(m_clock, kBoxQuietMs), m_outer(t_innermost)
{
    m_quiet.Restart();
    m_hHook = SetWindowsHookExW(WH_MSGFILTER, Filter, nullptr, GetCurrentThreadId());
    t_innermost = this;
}

CQuietBox::~CQuietBox()
{
    t_innermost = m_outer;
    if (m_hHook)
        UnhookWindowsHookEx(m_hHook);
}

LRESULT CALLBACK CQuietBox::Filter(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && t_innermost && msg && IsKey(msg->message)) {
        constexpr LPARAM kRepeatBit = 1 << 30;  // the key was down before this message
        if (!t_innermost->m_quiet.Takes((msg->lParam & kRepeatBit) != 0))
            return TRUE;  // the box never sees it
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace veltrad
