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
// Wrapped texts get bounded room, so a long reason never moves the rest:
// three lines at most for the reason, two for what to check.
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

void CTileWindow::PlaceButtons()
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const UINT dpi = WindowDpi(m_hWnd);
    const int margin = ScaleForDpi(kMargin96, dpi);
    const int gap = ScaleForDpi(kGap96, dpi);
    const int height = LineHeight(m_fonts.text) * 7 / 4;  // a push button's usual height for its font
    const int width = std::max(0, static_cast<int>(client.right - 2 * margin - gap) / 2);
    const int top = client.bottom - margin - height;
    SetWindowPos(m_hStart, nullptr, margin, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_hStop, nullptr, margin + width + gap, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
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

    const int margin = ScaleForDpi(kMargin96, dpi);
    const int gap = ScaleForDpi(kGap96, dpi);
    RECT buttons{};
    GetWindowRect(m_hStart, &buttons);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&buttons), 2);
    const int left = client.left + margin;
    const int right = client.right - margin;
    // The serial number and the counters sit right above the buttons, as in
    // the Qt station; what does not fit between them and the top is left out.
    const int countersTop = buttons.top - gap - LineHeight(m_fonts.text);
    int limit = countersTop - gap;
    int y = client.top + margin;
    // Unplugged: every text pale, so the tiles that can work stand out.
    const COLORREF ink = Colour(m_tile.state == TileState::NotPresent ? look.word : kText);
    SetBkMode(dc, TRANSPARENT);
    const auto draw = [&](HFONT font, COLORREF colour, const std::string& line, int lines, UINT align) {
        const int height = lines * LineHeight(font);
        if (y + height / lines > limit)
            return false;
        RECT box{left, y, right, std::min(y + height, limit)};
        SelectObject(dc, font);
        SetTextColor(dc, colour);
        const UINT wrap = lines > 1 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE;
        DrawTextW(dc, Widen(line).c_str(), -1, &box, align | wrap | DT_NOPREFIX | DT_END_ELLIPSIS);
        return true;
    };
    const auto row = [&](HFONT font, COLORREF colour, const std::string& line, int lines = 1) {
        if (!draw(font, colour, line, lines, DT_LEFT))
            return false;
        y += lines * LineHeight(font) + gap;
        return true;
    };
    HGDIOBJ oldFont = SelectObject(dc, m_fonts.text);
    const bool room = row(m_fonts.bold, ink, TileNameText(m_tile)) && row(m_fonts.text, ink, m_tile.adapter) &&
                      row(m_fonts.word, Colour(look.word), m_tile.word);
    const int bar = ScaleForDpi(kBarHeight96, dpi);
    if (room && y + bar <= limit) {
        RECT track{left, y, right, y + bar};
        Fill(dc, track, kTileBorder);
        InflateRect(&track, -1, -1);
        Fill(dc, track, kBarTrack);
        if (m_tile.frames > 0 && m_tile.acknowledged > 0) {
            const auto done = static_cast<int>(std::min(m_tile.acknowledged, m_tile.frames));
            track.right = track.left + MulDiv(track.right - track.left, done, static_cast<int>(m_tile.frames));
            Fill(dc, track, look.word);
        }
        y += bar + gap;
        // The reason takes the lines it needs, three at most, so what to check still fits.
        RECT need{left, 0, right, 0};
        SelectObject(dc, m_fonts.text);
        DrawTextW(dc, Widen(m_tile.detail).c_str(), -1, &need,
                  DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
        const int lines =
            std::clamp(static_cast<int>(need.bottom / std::max(1, LineHeight(m_fonts.text))), 1, kDetailLines);
        row(m_fonts.text, ink, m_tile.detail, lines) && row(m_fonts.text, ink, m_tile.hint, kHintLines);
    }
    if (countersTop >= client.top + margin) {
        y = countersTop;
        limit = buttons.top;
        draw(m_fonts.text, ink, TileSerialText(m_tile), 1, DT_LEFT);
        draw(m_fonts.text, ink, TileCountersText(m_tile), 1, DT_RIGHT);
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
