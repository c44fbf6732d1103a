#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/station/win32/owner_window_procedure.h"

// What one tile shows, in the terms the panel draws: the words come from the station's tile
// model, the colours from its state.
struct TilePicture {
    std::vector<std::string> lines;  // port and adapter first, then the rest, top to bottom
    std::string word;                // the state in one word, large, at the top
    COLORREF shade = 0;              // the whole tile's, light enough for black text
    COLORREF bar = 0;                // the progress bar's filled part
    int records = 0;                 // the progress bar's position out of its range
    int record_range = 1;
};

// The tiles of the station window: one child window that draws every tile itself (no control
// per tile, so 32 tiles redraw as one picture without flicker), lays them out in as many
// columns as its width takes, scrolls vertically, and tells its parent of a click
// (TILE_SELECTED) or a double-click (TILE_OPENED) through WM_COMMAND.
class TilePanel {
  public:
    static constexpr WORD TILE_SELECTED = 1;
    static constexpr WORD TILE_OPENED = 2;

    // The smallest tile: 4 columns fit 1280 pixels with the scroll bar, and 4 rows fit under
    // the header of a window as tall as a 1024-line screen.
    static constexpr int MIN_TILE_WIDTH = 300;
    static constexpr int TILE_HEIGHT = 200;

    TilePanel() = default;
    TilePanel(const TilePanel&) = delete;
    TilePanel& operator=(const TilePanel&) = delete;
    ~TilePanel();

    bool create(HWND parent, int control_id);
    HWND hwnd() const { return hwnd_; }

    void set_tiles(std::vector<TilePicture> tiles);
    // The selected tile's index, or -1.
    int selected() const { return selected_; }

  private:
    friend LRESULT CALLBACK owner_window_procedure<TilePanel>(HWND, UINT, WPARAM, LPARAM);
    void attach(HWND hwnd) { hwnd_ = hwnd; }
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void make_fonts();
    int columns() const;
    int content_height() const;
    void update_scroll_range();
    void scroll_to(int position);
    int tile_at(int x, int y) const;
    void select(int index, WORD notification);
    bool on_key(int key);
    void show_tile(int index);
    void paint();
    void paint_tile(HDC device, const RECT& area, const TilePicture& tile, bool selected) const;

    HWND hwnd_ = nullptr;
    int control_id_ = 0;
    std::vector<TilePicture> tiles_;
    int selected_ = -1;
    int scroll_y_ = 0;
    HFONT text_font_ = nullptr;
    HFONT bold_font_ = nullptr;
    HFONT word_font_ = nullptr;
};
