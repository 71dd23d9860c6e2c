#pragma once
// One tile of the Win32 station: a child window that paints a TileView in
// its state's colours and holds the tile's two buttons. It forwards both
// buttons and a click on itself (which selects the tile for the next serial
// number) to the station as WM_COMMAND: IDC_TILE_START + i, IDC_TILE_STOP +
// i, IDC_TILE + i. Its window text is the port and the state in words, as a
// screen reader or a test reads it.

#include "station/StationView.h"
#include "station/TileLook.h"
#include "win32/WinApi.h"

#include <cstddef>
#include <string>

namespace veltrad {

// The station's fonts, for every tile; the station makes them for its dpi.
struct TileFonts {
    HFONT text = nullptr;  // the dialog's own; not owned
    HFONT bold = nullptr;  // the port's name
    HFONT word = nullptr;  // the state, larger
};

class CTileWindow {
public:
    static bool Register(HINSTANCE instance);

    CTileWindow(HINSTANCE instance, HWND station, std::size_t index, const TileFonts& fonts);
    ~CTileWindow();
    CTileWindow(const CTileWindow&) = delete;
    CTileWindow& operator=(const CTileWindow&) = delete;

    HWND Handle() const { return m_hWnd; }
    void Show(const TileView& tile);
    void Place(const RECT& rect);
    // After the fonts changed (a new dpi).
    void Refont();
    // The height at which a failed tile shows every part, in pixels.
    int PreferredHeight() const;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Which parts fit the tile now (the least needed left out first).
    struct Fitted {
        RECT area;  // inside the margins
        int gap;
        TilePartNeeds needs;
        TilePartLines lines;
        int Height(TilePart part) const;  // 0 when left out
    };
    Fitted Fit() const;
    void Paint(HDC dc, const RECT& client) const;
    void PlaceButtons();
    int LineHeight(HFONT font) const;
    int WrappedLines(const std::string& text, int width, int most) const;
    int ButtonHeight() const;

    HWND m_hWnd = nullptr;
    HWND m_hStart = nullptr;
    HWND m_hStop = nullptr;
    HBRUSH m_hBackground = nullptr;  // the state's colour, for the buttons' corners; owned
    std::size_t m_index;
    const TileFonts& m_fonts;
    TileView m_tile;
};

}  // namespace veltrad
