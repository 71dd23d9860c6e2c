// The station's face: its texts, its fonts, and where the controls and the
// tiles go as the window is resized.

#include "station/TileLook.h"
#include "platform/Utf16_win32.h"
#include "win32/station/StationDlg.h"
#include "win32/station/StationResource.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

namespace veltrad {
namespace {

namespace text = station_text;

enum Anchor : unsigned {
    kStretch = 1,  // the right edge follows the window's
    kRight = 2,    // moves with the right edge
    kBottom = 4,   // moves with the bottom edge
};

struct AnchorOf {
    int id;
    unsigned anchors;
};

constexpr AnchorOf kAnchors[] = {
    {IDC_JOB_GROUP, kStretch},
    {IDC_JOB_NAME, kStretch},
    {IDC_LOCKED, kRight},
    {IDC_IMAGE, kStretch},
    {IDC_SHA, kRight},
    {IDC_COPY_SHA, kRight},
    {IDC_CHOOSE_IMAGE, kRight},
    {IDC_PORTS, kStretch},
    {IDC_SERIAL_NUMBERS, kRight},
    {IDC_RECORDS, kStretch},
    {IDC_CHOOSE_RECORDS, kRight},
    {IDC_SOUNDS, kRight},
    {IDC_RECORDS_WAITING, kStretch},
    {IDC_SERIAL_LABEL, kBottom},
    {IDC_SERIAL_ENTRY, kBottom},
    {IDC_SCAN_STATUS, kBottom | kStretch},
    {IDC_START_ALL, kBottom | kRight},
    {IDC_STOP_ALL, kBottom | kRight},
    {IDC_COUNTERS, kBottom | kRight},
};

struct TextOf {
    int id;
    const char* text;
};

constexpr TextOf kTexts[] = {
    {IDC_NAME_LABEL, text::kJobName},
    {IDC_IMAGE_LABEL, text::kImage},
    {IDC_PORTS_LABEL, text::kPorts},
    {IDC_RECORDS_LABEL, text::kRecords},
    {IDC_COPY_SHA, text::kCopy},
    {IDC_CHOOSE_IMAGE, text::kChooseImage},
    {IDC_SERIAL_NUMBERS, text::kAskSerial},
    {IDC_SOUNDS, text::kSounds},
    {IDC_NEW_JOB, text::kNewJob},
    {IDC_OPEN_JOB, text::kOpenJob},
    {IDC_SAVE_JOB, text::kSaveJob},
    {IDC_EDIT_JOB, text::kEditJob},
    {IDC_OPEN_RECORDS, text::kOpenRecords},
    {IDC_SERIAL_LABEL, text::kSerialNumber},
    {IDC_START_ALL, text::kStartAll},
    {IDC_STOP_ALL, text::kStopAll},
};

// In dialog units: a tile's least width, the width it would like, and the
// room around the tiles.
constexpr int kMinTileWidth = 90;
constexpr int kPreferredTileWidth = 130;
constexpr int kTileGap = 4;
// What the dialog units are measured by: pixels per this many units.
constexpr int kUnitProbe = 1000;
// The state word and the counters in larger type, as in the Qt station.
constexpr int kWordScalePercent = 140;
constexpr int kCountersScalePercent = 130;

HFONT DerivedFont(HFONT base, int scalePercent)
{
    LOGFONTW font{};
    GetObjectW(base, sizeof font, &font);
    font.lfHeight = MulDiv(font.lfHeight, scalePercent, 100);
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&font);
}

}  // namespace

std::wstring CStationDlg::ItemText(int id) const
{
    HWND item = Item(id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
    return text;
}

void CStationDlg::SetItemText(int id, const std::string& utf8) { SetDlgItemTextW(m_hWnd, id, Widen(utf8).c_str()); }

void CStationDlg::SetTexts()
{
    for (const TextOf& t : kTexts)
        SetItemText(t.id, t.text);
    SetWindowTextW(m_hWnd, Widen(text::kTitle).c_str());
    // What the empty fields are for, in grey.
    SendMessageW(Item(IDC_PORTS), EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(L"COM33 COM34"));
    SendMessageW(Item(IDC_SERIAL_ENTRY), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(Widen(text::kAskSerial).c_str()));
}

void CStationDlg::MakeFonts()
{
    const auto base = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    const TileFonts old = m_fonts;
    const HFONT oldCounters = m_hCountersFont;
    m_fonts.text = base;
    m_fonts.bold = DerivedFont(base, 100);
    m_fonts.word = DerivedFont(base, kWordScalePercent);
    m_hCountersFont = DerivedFont(base, kCountersScalePercent);
    SendMessageW(Item(IDC_COUNTERS), WM_SETFONT, reinterpret_cast<WPARAM>(m_hCountersFont), TRUE);
    SendMessageW(Item(IDC_RECORDS_WAITING), WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.bold), TRUE);
    SendMessageW(Item(IDC_SCAN_STATUS), WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.bold), TRUE);
    for (HFONT font : {old.bold, old.word, oldCounters}) {
        if (font)
            DeleteObject(font);
    }
}

SIZE CStationDlg::DialogUnits(int width, int height) const
{
    RECT rect{0, 0, width, height};
    MapDialogRect(m_hWnd, &rect);
    return {rect.right, rect.bottom};
}

void CStationDlg::RememberLayout()
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    m_templateUnits = DialogUnits(kUnitProbe, kUnitProbe);
    m_templateClient = {MulDiv(client.right, kUnitProbe, m_templateUnits.cx),
                        MulDiv(client.bottom, kUnitProbe, m_templateUnits.cy)};
    m_layout.clear();
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Placed placed{GetDlgCtrlID(child), {}, 0};
        GetWindowRect(child, &placed.rect);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&placed.rect), 2);
        const auto anchor = std::find_if(std::begin(kAnchors), std::end(kAnchors),
                                         [&](const AnchorOf& a) { return a.id == placed.id; });
        if (anchor != std::end(kAnchors))
            placed.anchors = anchor->anchors;
        m_layout.push_back(placed);
    }
}

void CStationDlg::LayOut()
{
    if (!m_hWnd || m_layout.empty())
        return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    if (IsIconic(m_hWnd) || client.right <= 0 || client.bottom <= 0)
        return;  // minimised: nothing to lay out until it is restored
    // The template's pixels at today's dialog units (a new dpi changes them).
    const SIZE units = DialogUnits(kUnitProbe, kUnitProbe);
    const auto x = [&](LONG v) { return MulDiv(v, units.cx, m_templateUnits.cx); };
    const auto y = [&](LONG v) { return MulDiv(v, units.cy, m_templateUnits.cy); };
    const SIZE grown = {client.right - DialogUnits(m_templateClient.cx, m_templateClient.cy).cx,
                        client.bottom - DialogUnits(m_templateClient.cx, m_templateClient.cy).cy};
    HDWP moves = BeginDeferWindowPos(static_cast<int>(m_layout.size()));
    for (const Placed& p : m_layout) {
        RECT r{x(p.rect.left), y(p.rect.top), x(p.rect.right), y(p.rect.bottom)};
        if (p.anchors & kStretch)
            r.right = std::max(r.left, r.right + grown.cx);
        if (p.anchors & kRight)
            OffsetRect(&r, grown.cx, 0);
        if (p.anchors & kBottom)
            OffsetRect(&r, 0, grown.cy);
        if (moves)
            moves = DeferWindowPos(moves, Item(p.id), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (moves)
        EndDeferWindowPos(moves);
    LayOutTiles(TileArea({client.right, client.bottom}));
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

RECT CStationDlg::TileArea(SIZE client) const
{
    // Between the job panel and the bottom bar, as the template places them at this size.
    const SIZE units = DialogUnits(kUnitProbe, kUnitProbe);
    const auto x = [&](LONG v) { return MulDiv(v, units.cx, m_templateUnits.cx); };
    const auto y = [&](LONG v) { return MulDiv(v, units.cy, m_templateUnits.cy); };
    const SIZE templ = DialogUnits(m_templateClient.cx, m_templateClient.cy);
    const SIZE grown = {client.cx - templ.cx, client.cy - templ.cy};
    RECT panel{};
    LONG barTop = client.cy;
    for (const Placed& p : m_layout) {
        if (p.id == IDC_JOB_GROUP)
            panel = {x(p.rect.left), y(p.rect.top), x(p.rect.right) + grown.cx, y(p.rect.bottom)};
        if (p.anchors & kBottom)
            barTop = std::min(barTop, y(p.rect.top) + grown.cy);
    }
    const LONG gap = DialogUnits(kTileGap, kTileGap).cy;
    return {panel.left, panel.bottom + gap, panel.right, barTop - gap};
}

void CStationDlg::LayOutTiles(const RECT& area)
{
    const int count = static_cast<int>(m_tiles.size());
    if (count == 0)
        return;
    const SIZE gap = DialogUnits(kTileGap, kTileGap);
    const int width = std::max(1L, area.right - area.left);
    const int height = std::max(1L, area.bottom - area.top);
    const int columns = TileGridColumns(count, width / std::max(1L, DialogUnits(kMinTileWidth, 0).cx));
    const int rows = (count + columns - 1) / columns;
    const int tileWidth = (width - (columns - 1) * gap.cx) / columns;
    const int tileHeight = (height - (rows - 1) * gap.cy) / rows;
    for (int i = 0; i < count; ++i) {
        const int left = area.left + (i % columns) * (tileWidth + gap.cx);
        const int top = area.top + (i / columns) * (tileHeight + gap.cy);
        m_tiles[static_cast<std::size_t>(i)]->Place({left, top, left + tileWidth, top + tileHeight});
    }
}

void CStationDlg::FitToJob()
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT window{};
    RECT client{};
    if (!GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor) ||
        !GetWindowRect(m_hWnd, &window) || !GetClientRect(m_hWnd, &client) || IsZoomed(m_hWnd) || IsIconic(m_hWnd))
        return;
    const RECT& work = monitor.rcWork;
    const LONG frameWidth = (window.right - window.left) - client.right;
    const LONG frameHeight = (window.bottom - window.top) - client.bottom;
    LONG width = client.right;
    LONG height = client.bottom;
    if (!m_tiles.empty() && !m_layout.empty()) {
        // The template less its tile area, plus every tile at the size that shows all of it.
        const SIZE gap = DialogUnits(kTileGap, kTileGap);
        const SIZE least = DialogUnits(kMinTileWidth, 0);
        const SIZE preferred = DialogUnits(kPreferredTileWidth, 0);
        const SIZE templ = DialogUnits(m_templateClient.cx, m_templateClient.cy);
        const RECT area = TileArea(templ);
        const int count = static_cast<int>(m_tiles.size());
        const LONG roomWidth = (work.right - work.left) - frameWidth - (templ.cx - (area.right - area.left));
        const int columns = TileGridColumns(count, roomWidth / std::max(1L, least.cx));
        const int rows = (count + columns - 1) / columns;
        const LONG tilesWidth = columns * preferred.cx + (columns - 1) * gap.cx;
        const LONG tilesHeight = rows * m_tiles.front()->PreferredHeight() + (rows - 1) * gap.cy;
        width = std::max(width, templ.cx - (area.right - area.left) + tilesWidth);
        height = std::max(height, templ.cy - (area.bottom - area.top) + tilesHeight);
    }
    // On the work area, frame and all.
    width = std::min(width + frameWidth, work.right - work.left);
    height = std::min(height + frameHeight, work.bottom - work.top);
    const LONG left = std::clamp(window.left, work.left, work.right - width);
    const LONG top = std::clamp(window.top, work.top, work.bottom - height);
    SetWindowPos(m_hWnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace veltrad
