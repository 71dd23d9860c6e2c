#pragma once
// A box that has just opened takes no key: an Enter pressed for what came
// before it (the hand that pressed 다 운 로 드 goes on) must not dismiss a
// notice unread. While a CQuietBox lives, the modal boxes of this thread
// (dialog boxes, message boxes, task dialogs) take no key for kBoxQuietMs
// from its making, nor any key the keyboard repeats; the mouse is not held
// back. The boxes' modal loops ask a message filter hook (WH_MSGFILTER)
// before the dialog manager sees a key.

#include "download/Clock.h"
#include "window/KeyQuiet.h"
#include "win32/WinApi.h"

namespace veltrad {

class CQuietBox {
public:
    // Make it right before the box is run; they nest (the innermost decides).
    CQuietBox();
    ~CQuietBox();
    CQuietBox(const CQuietBox&) = delete;
    CQuietBox& operator=(const CQuietBox&) = delete;

private:
    static LRESULT CALLBACK Filter(int code, WPARAM wParam, LPARAM lParam);

    CSystemClock m_clock;
    CKeyQuiet m_quiet;
    HHOOK m_hHook = nullptr;
    CQuietBox* m_outer;
};

}  // namespace veltrad
