#pragma once

#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/stattext.h>

#include "ui/station/tile_model.h"

// One port's tile: its texts on labels (what a screen reader and the window tests read),
// the records on a bar, the result's colour as the background. A click selects the tile,
// a double click asks for its details (both reach the parent as wxEVT_COMMAND events).
class TilePanel : public wxPanel {
  public:
    static wxSize tile_size(wxWindow* window);

    explicit TilePanel(wxWindow* parent);

    // Changes only what differs from the tile shown, so a still station redraws nothing.
    void show(const Tile& tile);
    void set_selected(bool selected);
    const Tile& tile() const { return shown_; }

  private:
    void set_text(wxStaticText* label, const std::string& text);
    void set_colour(TileColour colour);
    void on_click(wxMouseEvent& event);
    void on_double_click(wxMouseEvent& event);
    void on_paint(wxPaintEvent& event);

    wxStaticText* port_;
    wxStaticText* adapter_;
    wxStaticText* identification_;
    wxStaticText* step_;
    wxGauge* bar_;
    wxStaticText* records_;
    wxStaticText* elapsed_;
    wxStaticText* word_;
    wxStaticText* detail_;
    Tile shown_;
    bool coloured_ = false;
    bool selected_ = false;
};

// Sent to the tile's parent: the tile was clicked (select it) or double-clicked (details).
wxDECLARE_EVENT(EVT_TILE_SELECTED, wxCommandEvent);
wxDECLARE_EVENT(EVT_TILE_DETAILS, wxCommandEvent);
