#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/scrolwin.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "station/station.h"
#include "station/station_view.h"
#include "ui/station/adapter_labels.h"
#include "ui/station/image_source.h"
#include "ui/station/station_options.h"
#include "ui/station/wx/tile_panel.h"

// The station's one window: a header with the image, the report and the totals, one tile
// per port, and Pause, Details and Close. Its timer drives the station; a close while
// flashes run waits for them.
class StationFrame : public wxFrame, public StationView {
  public:
    // images: where the images come from, as checked before the window opened.
    // exit_status receives the station's exit status when the window closes.
    StationFrame(const StationOptions& options, const ImageSource& images,
                 const std::string& download_program, int& exit_status);
    ~StationFrame() override;

    // Starts the station and the timer; false (with the reason in error) when there is
    // nothing it could ever flash.
    bool start(std::string& error);

    // StationView
    void show_event(const PortRun& run, const nlohmann::ordered_json& event) override;
    void show_note(const std::string& port, const std::string& text) override;
    void show_modem_gone(const std::string& port) override;
    void show_ports(const std::vector<const PortRun*>& runs) override;

  private:
    void create_controls();
    wxSize first_client_size(int header_height);
    void on_timer(wxTimerEvent& event);
    void on_close(wxCloseEvent& event);
    void on_pause(wxCommandEvent& event);
    void on_details(wxCommandEvent& event);
    void on_tile_selected(wxCommandEvent& event);
    void on_tile_details(wxCommandEvent& event);
    void on_grid_size(wxSizeEvent& event);

    void ask_to_close();
    int show_modal(wxDialog& dialog);
    void close_when_done();
    void refresh();
    void refresh_header();
    void refresh_tiles();
    void ring_bells(std::chrono::steady_clock::time_point now);
    void show_details(const TilePanel* tile);
    void select(TilePanel* tile);

    int& exit_status_;
    ImageSource images_;
    Station station_;
    wxTimer timer_;
    std::chrono::steady_clock::time_point started_;

    wxStaticText* image_ = nullptr;
    wxStaticText* report_ = nullptr;
    wxStaticText* totals_ = nullptr;
    wxStaticText* state_ = nullptr;
    wxButton* pause_ = nullptr;
    wxButton* details_ = nullptr;
    wxScrolledWindow* grid_ = nullptr;
    std::vector<TilePanel*> tiles_;
    TilePanel* selected_ = nullptr;

    std::map<std::string, std::string> notes_;  // the station's last word per port
    AdapterLabels adapters_;
    std::map<std::string, TileState> states_;  // port -> what its tile showed last
    bool closing_ = false;
    bool asking_ = false;
    // The dialog whose modal loop runs now, if any: the frame must outlive it, so a close
    // that comes due meanwhile ends the dialog first and destroys the frame after it.
    wxDialog* open_dialog_ = nullptr;
    bool close_due_ = false;
    bool stepping_ = false;
    int bells_due_ = 0;
    std::chrono::steady_clock::time_point next_bell_{};
};
