#include "win32/station/TileWindow.h"

#include "station/TileLook.h"
#include "station/ViewTexts.h"
#include "win32/Dpi.h"
#include "platform/Utf16_win32.h"
#include "win32/station/StationResource.h"

#include <algorithm>
#include <initializer_list>
#include <string>

namespace veltrad {
namespace {

namespace text = station_text;

constexpr wchar_t kClassName[] = L"VeltradStationTile";
// Pixels at 96 dpi.
constexpr int kMargin96 = 8;
constexpr int kGap96 = 3;
constexpr int kBarHeight96 = 8;
constexpr int kBorder96 = 1;
constexpr int kSelectedBorder96 = 3;
// A reason takes three lines at most, what to check two.
constexpr int kDetailLines = 3;
constexpr int kHintLines = 2;
constexpr std::uint32_t kText = 0x202020;
constexpr std::uint32_t kBarTrack = 0xffffff;

COLORREF Colour(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

void Fill(HDC dc, const RECT& rect, std::uint32_t rgb)
{
    HBRUSH brush = CreateSolidBrush(Colour(rgb));
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

}  // namespace

bool CTileWindow::Register(HINSTANCE instance)
{
    WNDCLASSEXW tileClass{};
    tileClass.cbSize = sizeof tileClass;
    tileClass.style = CS_HREDRAW | CS_VREDRAW;
    tileClass.lpfnWndProc = Proc;
    tileClass.hInstance = instance;
    tileClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    tileClass.lpszClassName = kClassName;
    return RegisterClassExW(&tileClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

CTileWindow::CTileWindow(HINSTANCE instance, HWND station, std::size_t index, const TileFonts& fonts)
    : m_index(index), m_fonts(fonts)
{
    const auto id = [index](int base) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(base + index)); };
    // The control parent lets the dialog manager reach the buttons inside.
    CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, station,
                    id(IDC_TILE), instance, this);
    if (!m_hWnd)
        return;
    // Not tab stops: the keyboard belongs to the serial-number field.
    const DWORD style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
    m_hStart = CreateWindowExW(0, L"BUTTON", Widen(text::kStart).c_str(), style, 0, 0, 0, 0, m_hWnd, id(IDC_TILE_START),
                               instance, nullptr);
    m_hStop = CreateWindowExW(0, L"BUTTON", Widen(text::kStop).c_str(), style, 0, 0, 0, 0, m_hWnd, id(IDC_TILE_STOP),
                              instance, nullptr);
    Refont();
}

CTileWindow::~CTileWindow()
{
    if (m_hWnd)
        DestroyWindow(m_hWnd);
    if (m_hBackground)
        DeleteObject(m_hBackground);
}

void CTileWindow::Refont()
{
    for (HWND button : {m_hStart, m_hStop})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.text), FALSE);
    PlaceButtons();
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CTileWindow::Show(const TileView& tile)
{
    const bool recolour = !m_hBackground || tile.state != m_tile.state;
    m_tile = tile;
    SetWindowTextW(m_hWnd, Widen(tile.name + ": " + tile.word).c_str());
    EnableWindow(m_hStart, tile.canStart ? TRUE : FALSE);
    EnableWindow(m_hStop, tile.canStop ? TRUE : FALSE);
    if (recolour) {
        if (m_hBackground)
            DeleteObject(m_hBackground);
        m_hBackground = CreateSolidBrush(Colour(LookOf(tile.state).background));
        for (HWND button : {m_hStart, m_hStop})
            InvalidateRect(button, nullptr, TRUE);
    }
    // A reason of another length may leave room for the buttons or take it.
    PlaceButtons();
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CTileWindow::Place(const RECT& rect)
{
    SetWindowPos(m_hWnd, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

int CTileWindow::LineHeight(HFONT font) const
{
    HDC dc = GetDC(m_hWnd);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    return metrics.tmHeight + metrics.tmExternalLeading;
}

int CTileWindow::WrappedLines(const std::string& text, int width, int most) const
{
    if (text.empty())
        return 0;
    HDC dc = GetDC(m_hWnd);
    HGDIOBJ old = SelectObject(dc, m_fonts.text);
    RECT need{0, 0, std::max(1, width), 0};
    DrawTextW(dc, Widen(text).c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    const int line = std::max(1, LineHeight(m_fonts.text));
    return std::clamp(static_cast<int>((need.bottom + line - 1) / line), 1, most);
}

int CTileWindow::PreferredHeight() const
{
    const UINT dpi = WindowDpi(m_hWnd);
    const int line = LineHeight(m_fonts.text);
    return LineHeight(m_fonts.word) + LineHeight(m_fonts.bold) + ButtonHeight() + ScaleForDpi(kBarHeight96, dpi) +
           (kDetailLines + kHintLines + 2) * line + static_cast<int>(kTilePartCount - 1) * ScaleForDpi(kGap96, dpi) +
           2 * ScaleForDpi(kMargin96, dpi);
}

int CTileWindow::ButtonHeight() const
{
    return LineHeight(m_fonts.text) * 7 / 4;  // a push button's usual height for its font
}

CTileWindow::Fitted CTileWindow::Fit() const
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const UINT dpi = WindowDpi(m_hWnd);
    const int margin = ScaleForDpi(kMargin96, dpi);
    Fitted fitted;
    fitted.area = {client.left + margin, client.top + margin, client.right - margin, client.bottom - margin};
    fitted.gap = ScaleForDpi(kGap96, dpi);
    const int width = fitted.area.right - fitted.area.left;
    const int line = LineHeight(m_fonts.text);
    const int detailLines = WrappedLines(m_tile.detail, width, kDetailLines);
    TilePartNeeds& needs = fitted.needs;
    NeedOf(needs, TilePart::Word) = {1, LineHeight(m_fonts.word)};
    NeedOf(needs, TilePart::Name) = {1, LineHeight(m_fonts.bold)};
    NeedOf(needs, TilePart::Detail) = {std::min(detailLines, 1), line};
    NeedOf(needs, TilePart::Buttons) = {1, ButtonHeight()};
    NeedOf(needs, TilePart::Bar) = {1, ScaleForDpi(kBarHeight96, dpi)};
    NeedOf(needs, TilePart::MoreDetail) = {detailLines - 1, line};
    NeedOf(needs, TilePart::Serial) = {1, line};
    NeedOf(needs, TilePart::Hint) = {WrappedLines(m_tile.hint, width, kHintLines), line};
    NeedOf(needs, TilePart::Adapter) = {m_tile.adapter.empty() ? 0 : 1, line};
    fitted.lines = FitTileParts(needs, fitted.gap, std::max(0L, fitted.area.bottom - fitted.area.top));
    return fitted;
}

int CTileWindow::Fitted::Height(TilePart part) const
{
    return LinesOf(lines, part) * needs[static_cast<std::size_t>(part)].lineHeight;
}

void CTileWindow::PlaceButtons()
{
    const Fitted fitted = Fit();
    const int height = fitted.Height(TilePart::Buttons);
    const int show = height > 0 ? SW_SHOWNA : SW_HIDE;
    ShowWindow(m_hStart, show);
    ShowWindow(m_hStop, show);
    if (height == 0)
        return;
    const RECT& area = fitted.area;
    const int width = std::max(0, static_cast<int>(area.right - area.left - fitted.gap) / 2);
    const int top = area.bottom - height;
    SetWindowPos(m_hStart, nullptr, area.left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_hStop, nullptr, area.left + width + fitted.gap, top, area.right - area.left - width - fitted.gap,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTileWindow::Paint(HDC dc, const RECT& client) const
{
    const UINT dpi = WindowDpi(m_hWnd);
    const TileLook look = LookOf(m_tile.state);
    Fill(dc, client, look.background);
    const int border = ScaleForDpi(m_tile.selected ? kSelectedBorder96 : kBorder96, dpi);
    HBRUSH frame = CreateSolidBrush(Colour(m_tile.selected ? kTileSelectedBorder : kTileBorder));
    for (int i = 0; i < border; ++i) {
        const RECT ring{client.left + i, client.top + i, client.right - i, client.bottom - i};
        FrameRect(dc, &ring, frame);
    }
    DeleteObject(frame);

    // What fits, the least needed parts left out first; one part never over another.
    const Fitted fitted = Fit();
    const RECT& area = fitted.area;
    // Unplugged: every text pale, so the tiles that can work stand out.
    const COLORREF ink = Colour(m_tile.state == TileState::NotPresent ? look.word : kText);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, m_fonts.text);
    const auto draw = [&](HFONT font, COLORREF colour, const std::string& text, const RECT& box, UINT format) {
        SelectObject(dc, font);
        SetTextColor(dc, colour);
        RECT r = box;
        DrawTextW(dc, Widen(text).c_str(), -1, &r, format | DT_NOPREFIX);
    };
    constexpr UINT kLine = DT_SINGLELINE | DT_END_ELLIPSIS;
    constexpr UINT kWrapped = DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS;
    // From the top: name, adapter, state, bar, reason, what to check.
    int y = area.top;
    const auto next = [&](int height, int gaps = 1) {
        const RECT box{area.left, y, area.right, y + height};
        y += height + gaps * fitted.gap;
        return box;
    };
    if (const int h = fitted.Height(TilePart::Name))
        draw(m_fonts.bold, ink, TileNameText(m_tile), next(h), kLine);
    if (const int h = fitted.Height(TilePart::Adapter))
        draw(m_fonts.text, ink, m_tile.adapter, next(h), kLine);
    if (const int h = fitted.Height(TilePart::Word))
        draw(m_fonts.word, Colour(look.word), m_tile.word, next(h), kLine);
    if (const int h = fitted.Height(TilePart::Bar)) {
        RECT track = next(h);
        Fill(dc, track, kTileBorder);
        InflateRect(&track, -1, -1);
        Fill(dc, track, kBarTrack);
        if (m_tile.frames > 0 && m_tile.acknowledged > 0) {
            const auto done = static_cast<int>(std::min(m_tile.acknowledged, m_tile.frames));
            track.right = track.left + MulDiv(track.right - track.left, done, static_cast<int>(m_tile.frames));
            Fill(dc, track, look.word);
        }
    }
    // The reason's lines are one text: whole lines only, the gap between its two parts below it.
    const int more = fitted.Height(TilePart::MoreDetail);
    if (const int h = fitted.Height(TilePart::Detail) + more)
        draw(m_fonts.text, ink, m_tile.detail, next(h, more > 0 ? 2 : 1), kWrapped);
    if (const int h = fitted.Height(TilePart::Hint))
        draw(m_fonts.text, ink, m_tile.hint, next(h), kWrapped);
    // Above the buttons: the serial number and the counters.
    if (const int h = fitted.Height(TilePart::Serial)) {
        const int buttons = fitted.Height(TilePart::Buttons);
        const int bottom = area.bottom - (buttons > 0 ? buttons + fitted.gap : 0);
        const RECT row{area.left, bottom - h, area.right, bottom};
        const std::string counters = TileCountersText(m_tile);
        SelectObject(dc, m_fonts.text);
        SIZE extent{};
        const std::wstring wide = Widen(counters);
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
        const LONG countersLeft = std::max(row.left, row.right - extent.cx);
        draw(m_fonts.text, ink, counters, {countersLeft, row.top, row.right, row.bottom}, kLine | DT_RIGHT);
        draw(m_fonts.text, ink, TileSerialText(m_tile),
             {row.left, row.top, std::max(row.left, countersLeft - 2 * fitted.gap), row.bottom}, kLine);
    }
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK CTileWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CTileWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<CTileWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = window;
    }
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT CTileWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: return 1;  // WM_PAINT covers everything
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(m_hWnd, &paint);
        RECT client{};
        GetClientRect(m_hWnd, &client);
        // Drawn off screen first: tiles are redrawn on every batch of progress.
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom));
        HGDIOBJ old = SelectObject(memory, bitmap);
        Paint(memory, client);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        EndPaint(m_hWnd, &paint);
        return 0;
    }
    case WM_SIZE: PlaceButtons(); return 0;
    case WM_CTLCOLORBTN: return reinterpret_cast<LRESULT>(m_hBackground);
    case WM_COMMAND:  // the buttons' clicks, with the station's command ids
        return SendMessageW(GetParent(m_hWnd), WM_COMMAND, wParam, lParam);
    case WM_LBUTTONDOWN:
        SendMessageW(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(IDC_TILE + m_index, BN_CLICKED),
                     reinterpret_cast<LPARAM>(m_hWnd));
        return 0;
    default: break;
    }
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

}  // namespace veltrad
