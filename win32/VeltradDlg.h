#pragma once
// The main window on Windows: dialog template 102 run modally, a thin view
// over CWindowLogic. It maps the dialog's messages to the logic's handlers
// and draws what the logic tells it; it decides nothing itself.
//
// The run's worker reaches the window only through PostRunEvents, which
// posts WM_RUN_EVENTS; the logic's queue carries each event's run id, and
// the window's thread hands the queue to the logic when the message comes.

#include "settings/Profile.h"
#include "window/WindowLogic.h"
#include "window/WindowView.h"
#include "win32/DialogWindow.h"
#include "win32/Dpi.h"
#include "win32/WinApi.h"

#include <vector>

namespace veltrad {

class CVeltradDlg final : public IWindowView, private CDialogWindow {
public:
    // Posted by PostRunEvents: the logic has run events queued.
    static constexpr UINT WM_RUN_EVENTS = WM_APP + 1;

    CVeltradDlg(HINSTANCE instance, CProfile profile);
    ~CVeltradDlg() override;
    CVeltradDlg(const CVeltradDlg&) = delete;
    CVeltradDlg& operator=(const CVeltradDlg&) = delete;

    // Runs the dialog until it ends; IDOK, IDCANCEL, or -1 when it could
    // not be created. The run is stopped and its worker joined by then.
    INT_PTR DoModal();

    // IWindowView
    void ShowPorts(const std::vector<PortEntry>& ports, int selected) override;
    void ShowFile(const std::string& name, const std::string& sizeText) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPos(std::uint32_t position) override;
    void EnableControls(bool enable) override;
    void ShowNotice(Notice notice) override;
    void ShowMessage(const WindowMessage& message) override;
    void ShowAbout() override;
    std::optional<std::filesystem::path> ChooseFile() override;
    void EndDialog(bool ok) override;
    void PostRunEvents() override;
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome) override;

private:
    template <class Dialog>
    friend INT_PTR CALLBACK DialogProcOf(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnCommand(WORD id, WORD code);
    BOOL OnPaint();
    void AppendAboutEntry();
    void UseIconsForDpi(UINT dpi);
    // The window of ours that takes input now: the main window, or the modal
    // box over it (About, the open dialog, a message box). Every box opens
    // over it, so none of ours stays usable beneath another.
    HWND ModalOwner() const;
    void KeepDroppedHeight();
    void CreatePortTip();
    void ShowPortTip();

    HINSTANCE m_hInstance;
    CWindowIcons m_icons;            // for the window's dpi
    HWND m_hPortTip = nullptr;       // the port list's tooltip; destroyed with the window
    std::vector<PortEntry> m_ports;  // as last shown, for the tooltip
    // Last, so it goes first: it joins the worker while the window's members
    // still stand.
    CWindowLogic m_logic;
};

}  // namespace veltrad
