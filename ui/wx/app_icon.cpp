#include "ui/wx/app_icon.h"

#include <wx/bitmap.h>
#include <wx/dcmemory.h>

namespace {

constexpr int ICON_SIZE = 32;

void draw_modem(wxDC& dc) {
    dc.SetPen(wxPen(wxColour(0, 0, 0)));
    dc.SetBrush(wxBrush(wxColour(192, 192, 192)));
    dc.DrawRoundedRectangle(2, 20, 28, 10, 2);
    dc.SetBrush(wxBrush(wxColour(0, 255, 0)));
    for (int x = 6; x <= 14; x += 4) {
        dc.DrawRectangle(x, 24, 3, 3);
    }
    dc.SetBrush(wxBrush(wxColour(255, 0, 0)));
    dc.DrawRectangle(22, 24, 4, 3);
}

void draw_down_arrow(wxDC& dc) {
    const wxPoint arrow[] = {{12, 1}, {20, 1}, {20, 9}, {26, 9}, {16, 18}, {6, 9}, {12, 9}};
    dc.SetPen(wxPen(wxColour(0, 0, 128)));
    dc.SetBrush(wxBrush(wxColour(0, 0, 255)));
    dc.DrawPolygon(static_cast<int>(std::size(arrow)), arrow);
}

}  // namespace

wxIcon make_app_icon() {
    wxBitmap bitmap(ICON_SIZE, ICON_SIZE, 32);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(0, 128, 128)));
        dc.Clear();
        draw_modem(dc);
        draw_down_arrow(dc);
    }
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    return icon;
}
