#include "ui/station/wx/tile_panel.h"

#include <wx/dcclient.h>
#include <wx/sizer.h>

#include "engine/download_image.h"

wxDEFINE_EVENT(EVT_TILE_SELECTED, wxCommandEvent);
wxDEFINE_EVENT(EVT_TILE_DETAILS, wxCommandEvent);

namespace {

constexpr int TILE_WIDTH = 300;
constexpr int TILE_HEIGHT = 178;
constexpr int PADDING = 8;

wxStaticText* line_of(wxWindow* parent, wxSizer* sizer, int width, int point_change = 0,
                      bool bold = false) {
    // Fixed width and cut at the end: a long modem answer or file name never moves the grid.
    auto* label = new wxStaticText(parent, wxID_ANY, " ", wxDefaultPosition, wxSize(width, -1),
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    wxFont font = label->GetFont();
    if (point_change != 0) {
        font.SetPointSize(font.GetPointSize() + point_change);
    }
    if (bold) {
        font.MakeBold();
    }
    label->SetFont(font);
    label->SetForegroundColour(*wxBLACK);
    sizer->Add(label, 0, wxLEFT | wxRIGHT | wxTOP, PADDING / 2);
    return label;
}

}  // namespace

wxSize TilePanel::tile_size(wxWindow* window) {
    return window->FromDIP(wxSize(TILE_WIDTH, TILE_HEIGHT));
}

TilePanel::TilePanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, tile_size(parent), wxBORDER_NONE) {
    SetMinSize(tile_size(parent));
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const int width = tile_size(parent).GetWidth() - FromDIP(2 * PADDING);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->AddSpacer(FromDIP(PADDING / 2));
    port_ = line_of(this, sizer, width, 1, true);
    adapter_ = line_of(this, sizer, width);
    identification_ = line_of(this, sizer, width);
    step_ = line_of(this, sizer, width);
    bar_ = new wxGauge(this, wxID_ANY, IMAGE_RECORD_COUNT, wxDefaultPosition, wxSize(width, -1),
                       wxGA_HORIZONTAL | wxGA_SMOOTH);
    sizer->Add(bar_, 0, wxLEFT | wxRIGHT | wxTOP, PADDING / 2);
    auto* numbers = new wxBoxSizer(wxHORIZONTAL);
    records_ = new wxStaticText(this, wxID_ANY, " ", wxDefaultPosition, wxSize(width / 2, -1),
                                wxST_NO_AUTORESIZE);
    elapsed_ = new wxStaticText(this, wxID_ANY, " ", wxDefaultPosition, wxSize(width / 2, -1),
                                wxST_NO_AUTORESIZE | wxALIGN_RIGHT);
    records_->SetForegroundColour(*wxBLACK);
    elapsed_->SetForegroundColour(*wxBLACK);
    numbers->Add(records_);
    numbers->Add(elapsed_);
    sizer->Add(numbers, 0, wxLEFT | wxRIGHT | wxTOP, PADDING / 2);
    word_ = line_of(this, sizer, width, 4, true);
    detail_ = line_of(this, sizer, width);
    SetSizer(sizer);

    // A click on a label or the bar is the tile's: mouse events do not travel up to parents.
    Bind(wxEVT_LEFT_DOWN, &TilePanel::on_click, this);
    Bind(wxEVT_LEFT_DCLICK, &TilePanel::on_double_click, this);
    for (wxWindow* child : GetChildren()) {
        child->Bind(wxEVT_LEFT_DOWN, &TilePanel::on_click, this);
        child->Bind(wxEVT_LEFT_DCLICK, &TilePanel::on_double_click, this);
    }
    Bind(wxEVT_PAINT, &TilePanel::on_paint, this);
    set_colour(TileColour::grey);
}

void TilePanel::show(const Tile& tile) {
    set_text(port_, tile.port);
    set_text(adapter_, tile.adapter);
    set_text(identification_, tile.identification);
    set_text(step_, tile.step);
    set_text(records_, tile.records_text);
    set_text(elapsed_, tile.elapsed);
    set_text(word_, tile.word);
    set_text(detail_, tile.detail);
    if (bar_->GetValue() != tile.records) {
        bar_->SetValue(tile.records);
    }
    if (!coloured_ || tile.colour != shown_.colour) {
        set_colour(tile.colour);
    }
    shown_ = tile;
}

void TilePanel::set_selected(bool selected) {
    if (selected != selected_) {
        selected_ = selected;
        Refresh();
    }
}

void TilePanel::set_text(wxStaticText* label, const std::string& text) {
    // The model's texts are printable ASCII: no mnemonics, nothing to convert.
    const wxString shown = text.empty() ? wxString(" ") : wxString::FromAscii(text.c_str());
    if (label->GetLabelText() != shown) {
        label->SetLabelText(shown);
    }
}

void TilePanel::set_colour(TileColour colour) {
    const TileRgb rgb = rgb_of(colour);
    SetBackgroundColour(wxColour(rgb.red, rgb.green, rgb.blue));
    coloured_ = true;
    Refresh();
}

void TilePanel::on_paint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    if (selected_) {
        dc.SetPen(wxPen(*wxBLACK, FromDIP(3)));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        const wxSize size = GetClientSize();
        dc.DrawRectangle(FromDIP(1), FromDIP(1), size.GetWidth() - FromDIP(2),
                         size.GetHeight() - FromDIP(2));
    }
}

void TilePanel::on_click(wxMouseEvent& event) {
    wxCommandEvent selected(EVT_TILE_SELECTED);
    selected.SetEventObject(this);
    ProcessWindowEvent(selected);
    event.Skip();
}

void TilePanel::on_double_click(wxMouseEvent&) {
    wxCommandEvent details(EVT_TILE_DETAILS);
    details.SetEventObject(this);
    ProcessWindowEvent(details);
}
