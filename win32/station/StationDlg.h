#pragma once
// Veltrad Station on Windows: a modeless dialog from VeltradStation.rc with
// its own message loop (for the F5 key), a thin view over CStationLogic. It
// draws the job, the tiles and the counters, forwards the operator's actions
// and hands the workers' events to the logic on its own thread; it decides
// nothing itself.
//
// The workers reach the window only through PostEvents, which posts
// WM_STATION_EVENTS; the logic's locked queue carries the events, and the
// window's thread hands them to the logic when the message comes.

#include "station/StationLogic.h"
#include "station/StationView.h"
#include "win32/DialogWindow.h"
#include "win32/Dpi.h"
#include "win32/WinApi.h"
#include "win32/station/TileWindow.h"

#include <memory>
#include <vector>

namespace veltrad {

class CStationDlg final : public IStationView, private CDialogWindow {
public:
    static constexpr UINT WM_STATION_EVENTS = WM_APP + 1;
    static constexpr UINT WM_RELAYOUT = WM_APP + 2;  // after a dpi change, once the dialog has its new font

    CStationDlg(HINSTANCE instance, CPortMap ports, StationServices services = {});
    ~CStationDlg() override;
    CStationDlg(const CStationDlg&) = delete;
    CStationDlg& operator=(const CStationDlg&) = delete;

    // Creates and shows the window; false when it could not be made.
    bool Create(int show);
    // The window's messages until it has ended; every run is stopped and
    // every worker joined by then.
    void Run();
    CStationLogic& Logic() { return m_logic; }

private:
    // IStationView
    void ShowJob(const JobView& job) override;
    void ShowTiles(const std::vector<TileView>& tiles) override;
    void ShowTile(std::size_t index, const TileView& tile) override;
    void ShowCounters(const StationCounters& counters) override;
    void ShowScanStatus(const std::string& status) override;
    void ShowMessage(const StationMessage& message) override;
    bool AskEnd(const std::string& question) override;
    std::optional<std::filesystem::path> ChooseImage() override;
    std::optional<std::filesystem::path> ChooseJobToOpen() override;
    std::optional<std::filesystem::path> ChooseJobToSave() override;
    void PlaySound(StationSound sound) override;
    void OpenFolder(const std::filesystem::path& folder) override;
    void EndWindow() override;
    void PostEvents() override;
    void OnRunEnded(std::size_t index) override;

    template <class Dialog>
    friend INT_PTR CALLBACK DialogProcOf(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnCommand(WORD id, WORD code);
    void OnEnter();
    // A key of the station's window before the dialog manager's: true when
    // the scan rule took it (StationKeys.cpp).
    bool RouteKey(const MSG& msg);
    void FocusSerialEntry();
    void CommitName();
    void CommitPorts();
    void SetTexts();
    void MakeFonts();
    // The window grows to show every tile whole where the work area has
    // room, and stays on it.
    void FitToJob();

    // Layout: the template's places, remembered in pixels with the dialog
    // units they were made with, moved and stretched with the window.
    void RememberLayout();
    void LayOut();
    void LayOutTiles(const RECT& area);
    RECT TileArea(SIZE client) const;
    SIZE DialogUnits(int width, int height) const;

    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::string& utf8);
    HWND ModalOwner() const;

    struct Placed {
        int id;
        RECT rect;  // in the template's pixels
        unsigned anchors;
    };

    HINSTANCE m_hInstance;
    HACCEL m_hKeys = nullptr;
    HWND m_hTip = nullptr;  // tooltips: the image's path, the whole SHA-256, a tile's reason
    CWindowIcons m_icons;
    TileFonts m_fonts;                // bold and word owned, text the dialog's
    HFONT m_hCountersFont = nullptr;  // owned
    std::vector<Placed> m_layout;
    SIZE m_templateClient{};
    SIZE m_templateUnits{};
    std::vector<std::unique_ptr<CTileWindow>> m_tiles;
    DWORD m_keyDownTime = 0;  // of the latest key, whose character comes after it
    // Last, so it goes first: it joins the workers while the window's members
    // still stand.
    CStationLogic m_logic;
};

}  // namespace veltrad
