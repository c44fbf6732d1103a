#include "ui/station/win32/tile_panel.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace {

constexpr const char* CLASS_NAME = "KorvanStationTiles";
constexpr int GAP = 6;      // between tiles and round the edge
constexpr int PADDING = 8;  // inside a tile
constexpr int BAR_HEIGHT = 14;
constexpr int LINE_GAP = 2;
constexpr int WHEEL_LINE = 40;  // pixels a notch of the wheel scrolls

constexpr COLORREF BACKGROUND = RGB(0xE8, 0xE8, 0xE8);
constexpr COLORREF FRAME = RGB(0xA0, 0xA0, 0xA0);
constexpr COLORREF SELECTED_FRAME = RGB(0x00, 0x00, 0x00);
constexpr COLORREF TEXT = RGB(0x10, 0x10, 0x10);
constexpr COLORREF BAR_TRACK = RGB(0xFF, 0xFF, 0xFF);

void fill(HDC device, const RECT& area, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(device, &area, brush);
    DeleteObject(brush);
}

void frame(HDC device, const RECT& area, COLORREF colour, int width) {
    HBRUSH brush = CreateSolidBrush(colour);
    RECT edge = area;
    for (int i = 0; i < width; ++i) {
        FrameRect(device, &edge, brush);
        InflateRect(&edge, -1, -1);
    }
    DeleteObject(brush);
}

// One line, cut with an ellipsis to the width; text from outside never turns '&' into an
// underline.
void draw_line(HDC device, const std::string& text, RECT area, UINT align = DT_LEFT) {
    DrawTextA(device, text.c_str(), static_cast<int>(text.size()), &area,
              align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

int line_height(HDC device) {
    TEXTMETRICA metrics{};
    GetTextMetricsA(device, &metrics);
    return metrics.tmHeight + LINE_GAP;
}

}  // namespace

TilePanel::~TilePanel() {
    for (HFONT font : {text_font_, bold_font_, word_font_}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

bool TilePanel::create(HWND parent, int control_id) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA window_class{};
    if (!GetClassInfoExA(instance, CLASS_NAME, &window_class)) {
        window_class.cbSize = sizeof window_class;
        window_class.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        window_class.lpfnWndProc = owner_window_procedure<TilePanel>;
        window_class.hInstance = instance;
        window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
        window_class.lpszClassName = CLASS_NAME;
        if (RegisterClassExA(&window_class) == 0) {
            return false;
        }
    }
    control_id_ = control_id;
    make_fonts();
    hwnd_ = CreateWindowExA(
        WS_EX_CLIENTEDGE, CLASS_NAME, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, 0, 0, 0,
        0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id)), instance, this);
    return hwnd_ != nullptr;
}

void TilePanel::make_fonts() {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTA font{};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font = metrics.lfMessageFont;
    } else {
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    }
    // Read from a step away: larger than the dialogs' text.
    font.lfHeight = -15;
    text_font_ = CreateFontIndirectA(&font);
    font.lfWeight = FW_BOLD;
    font.lfHeight = -17;
    bold_font_ = CreateFontIndirectA(&font);
    font.lfHeight = -22;
    word_font_ = CreateFontIndirectA(&font);
}

void TilePanel::set_tiles(std::vector<TilePicture> tiles) {
    const bool count_changed = tiles.size() != tiles_.size();
    tiles_ = std::move(tiles);
    if (selected_ >= static_cast<int>(tiles_.size())) {
        selected_ = -1;
    }
    if (count_changed) {
        update_scroll_range();
    }
    InvalidateRect(hwnd_, nullptr, FALSE);
}

int TilePanel::columns() const {
    RECT client{};
    GetClientRect(hwnd_, &client);
    return std::max(1, static_cast<int>(client.right - GAP) / MIN_TILE_WIDTH);
}

int TilePanel::content_height() const {
    const int count = static_cast<int>(tiles_.size());
    const int rows = (count + columns() - 1) / columns();
    return GAP + rows * TILE_HEIGHT;
}

void TilePanel::update_scroll_range() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE;
    info.nMin = 0;
    info.nMax = content_height() - 1;
    info.nPage = static_cast<UINT>(client.bottom);
    SetScrollInfo(hwnd_, SB_VERT, &info, TRUE);
    scroll_to(scroll_y_);
}

void TilePanel::scroll_to(int position) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int most = std::max(0, content_height() - static_cast<int>(client.bottom));
    position = std::clamp(position, 0, most);
    if (position == scroll_y_) {
        SetScrollPos(hwnd_, SB_VERT, position, TRUE);
        return;
    }
    scroll_y_ = position;
    SetScrollPos(hwnd_, SB_VERT, position, TRUE);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

int TilePanel::tile_at(int x, int y) const {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int width = (static_cast<int>(client.right) - GAP) / columns();
    const int column = (x - GAP) / std::max(1, width);
    const int row = (y + scroll_y_ - GAP) / TILE_HEIGHT;
    if (x < GAP || column >= columns() || y + scroll_y_ < GAP) {
        return -1;
    }
    const int index = row * columns() + column;
    return index < static_cast<int>(tiles_.size()) ? index : -1;
}

void TilePanel::select(int index, WORD notification) {
    if (index < 0) {
        return;
    }
    selected_ = index;
    InvalidateRect(hwnd_, nullptr, FALSE);
    SendMessageA(GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(control_id_, notification),
                 reinterpret_cast<LPARAM>(hwnd_));
}

LRESULT TilePanel::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE:
            update_scroll_range();
            InvalidateRect(hwnd_, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers everything
        case WM_PAINT:
            paint();
            return 0;
        case WM_VSCROLL: {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_ALL;
            GetScrollInfo(hwnd_, SB_VERT, &info);
            int position = scroll_y_;
            switch (LOWORD(wparam)) {
                case SB_LINEUP:
                    position -= WHEEL_LINE;
                    break;
                case SB_LINEDOWN:
                    position += WHEEL_LINE;
                    break;
                case SB_PAGEUP:
                    position -= static_cast<int>(info.nPage);
                    break;
                case SB_PAGEDOWN:
                    position += static_cast<int>(info.nPage);
                    break;
                case SB_THUMBTRACK:
                case SB_THUMBPOSITION:
                    position = info.nTrackPos;
                    break;
                case SB_TOP:
                    position = 0;
                    break;
                case SB_BOTTOM:
                    position = content_height();
                    break;
                default:
                    break;
            }
            scroll_to(position);
            return 0;
        }
        case WM_MOUSEWHEEL:
            scroll_to(scroll_y_ - GET_WHEEL_DELTA_WPARAM(wparam) * WHEEL_LINE / WHEEL_DELTA);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd_);
            select(tile_at(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)), TILE_SELECTED);
            return 0;
        case WM_LBUTTONDBLCLK:
            select(tile_at(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)), TILE_OPENED);
            return 0;
        case WM_GETDLGCODE: {
            // The arrows move between tiles and Return opens one, instead of the dialog keys.
            const auto* key = reinterpret_cast<const MSG*>(lparam);
            const bool return_key =
                key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN;
            return DLGC_WANTARROWS | (return_key ? DLGC_WANTMESSAGE : 0);
        }
        case WM_KEYDOWN:
            if (on_key(static_cast<int>(wparam))) {
                return 0;
            }
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd_, message, wparam, lparam);
}

bool TilePanel::on_key(int key) {
    const int count = static_cast<int>(tiles_.size());
    if (count == 0) {
        return false;
    }
    if (key == VK_RETURN) {
        select(std::max(selected_, 0), TILE_OPENED);
        return true;
    }
    int index = std::max(selected_, 0);
    switch (key) {
        case VK_LEFT:
            index -= 1;
            break;
        case VK_RIGHT:
            index += 1;
            break;
        case VK_UP:
            index -= columns();
            break;
        case VK_DOWN:
            index += columns();
            break;
        default:
            return false;
    }
    index = selected_ < 0 ? 0 : std::clamp(index, 0, count - 1);
    show_tile(index);
    select(index, TILE_SELECTED);
    return true;
}

// Scrolls as little as it takes to show the whole tile.
void TilePanel::show_tile(int index) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int top = GAP + index / columns() * TILE_HEIGHT;
    const int bottom = top + TILE_HEIGHT;
    if (top < scroll_y_) {
        scroll_to(top - GAP);
    } else if (bottom > scroll_y_ + client.bottom) {
        scroll_to(bottom - static_cast<int>(client.bottom));
    }
}

// Drawn off screen and copied in one go: the tiles change several times a second.
void TilePanel::paint() {
    PAINTSTRUCT paint_info;
    HDC screen = BeginPaint(hwnd_, &paint_info);
    RECT client{};
    GetClientRect(hwnd_, &client);
    HDC device = CreateCompatibleDC(screen);
    HBITMAP bitmap =
        CreateCompatibleBitmap(screen, std::max(1L, client.right), std::max(1L, client.bottom));
    HGDIOBJ old_bitmap = SelectObject(device, bitmap);
    fill(device, client, BACKGROUND);
    SetBkMode(device, TRANSPARENT);

    const int columns_now = columns();
    const int width = (static_cast<int>(client.right) - GAP) / columns_now;
    for (int index = 0; index < static_cast<int>(tiles_.size()); ++index) {
        const int column = index % columns_now;
        const int row = index / columns_now;
        RECT area{GAP + column * width, GAP + row * TILE_HEIGHT - scroll_y_, (column + 1) * width,
                  (row + 1) * TILE_HEIGHT - scroll_y_};
        if (area.bottom < 0 || area.top > client.bottom) {
            continue;
        }
        paint_tile(device, area, tiles_[index], index == selected_);
    }

    BitBlt(screen, 0, 0, client.right, client.bottom, device, 0, 0, SRCCOPY);
    SelectObject(device, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(device);
    EndPaint(hwnd_, &paint_info);
}

void TilePanel::paint_tile(HDC device, const RECT& area, const TilePicture& tile,
                           bool selected) const {
    fill(device, area, tile.shade);
    SetTextColor(device, TEXT);
    HGDIOBJ old_font = SelectObject(device, word_font_);
    const int word_height = line_height(device);
    draw_line(device, tile.word,
              RECT{area.left + PADDING, area.top + PADDING / 2, area.right - PADDING,
                   area.top + PADDING / 2 + word_height});

    int y = area.top + PADDING / 2 + word_height;
    const int bottom = area.bottom - PADDING - BAR_HEIGHT - PADDING / 2;
    for (std::size_t i = 0; i < tile.lines.size(); ++i) {
        SelectObject(device, i == 0 ? bold_font_ : text_font_);
        const int height = line_height(device);
        if (y + height > bottom) {
            break;
        }
        draw_line(device, tile.lines[i],
                  RECT{area.left + PADDING, y, area.right - PADDING, y + height});
        y += height;
    }

    RECT bar{area.left + PADDING, area.bottom - PADDING - BAR_HEIGHT, area.right - PADDING,
             area.bottom - PADDING};
    fill(device, bar, BAR_TRACK);
    const int range = std::max(1, tile.record_range);
    const int done = std::clamp(tile.records, 0, range);
    RECT filled = bar;
    filled.right = bar.left + static_cast<LONG>((bar.right - bar.left) * done / range);
    fill(device, filled, tile.bar);
    frame(device, bar, FRAME, 1);

    frame(device, area, selected ? SELECTED_FRAME : FRAME, selected ? 3 : 1);
    SelectObject(device, old_font);
}
