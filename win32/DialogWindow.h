#pragma once
// What both windows' dialogs hold alike: their window, and the handle their
// workers post to. That one is set as the dialog starts and cleared once it
// is gone, when every worker has been joined, so no worker posts to a window
// that is no more. A base, so it outlives the dialog's members (the logic,
// whose destructor joins the workers).

#include "win32/WinApi.h"

#include <atomic>

namespace veltrad {

class CDialogWindow {
public:
    // DialogProcOf's: the dialog's window has come (WM_INITDIALOG).
    void Attach(HWND dialog)
    {
        m_hWnd = dialog;
        m_hWndPost = dialog;
    }

protected:
    // WM_NCDESTROY.
    void Detach()
    {
        m_hWndPost = nullptr;
        m_hWnd = nullptr;
    }
    // From any thread; never waits for the window's.
    void PostFromAnyThread(UINT message) const
    {
        if (HWND window = m_hWndPost.load())
            PostMessageW(window, message, 0, 0);
    }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    HWND m_hWnd = nullptr;

private:
    std::atomic<HWND> m_hWndPost{nullptr};
};

}  // namespace veltrad
