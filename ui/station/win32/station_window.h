#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

#include "station/station.h"
#include "station/station_view.h"
#include "ui/station/adapter_labels.h"
#include "ui/station/image_source.h"
#include "ui/station/win32/owner_window_procedure.h"
#include "ui/station/win32/tile_panel.h"

// The station window: a header (image, report, totals, paused or closing), Pause/Resume,
// Details and Close, and one tile per port. The station runs in watch mode underneath, one
// step of it per tick of the window's timer; a step never blocks, so the window answers at
// once whatever the children do.
class StationWindow : public StationView {
  public:
    explicit StationWindow(StationSettings settings);
    StationWindow(const StationWindow&) = delete;
    StationWindow& operator=(const StationWindow&) = delete;

    // Opens the window and starts the station; false (with the reason in error) when the
    // station has nothing to run or the window cannot be made.
    bool open(int show, std::string& error);
    HWND hwnd() const { return hwnd_; }
    // The program's exit status once the window is gone: 0 when every flash completed and
    // every report line was written.
    int exit_status() const { return station_.exit_status(); }

    // StationView.
    void show_event(const PortRun& run, const nlohmann::ordered_json& event) override;
    void show_note(const std::string& port, const std::string& text) override;
    void show_modem_gone(const std::string& port) override;
    void show_ports(const std::vector<const PortRun*>& runs) override;

  private:
    friend LRESULT CALLBACK owner_window_procedure<StationWindow>(HWND, UINT, WPARAM, LPARAM);
    void attach(HWND hwnd) { hwnd_ = hwnd; }
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void make_controls();
    void lay_out();
    void on_tick();
    void beep_new_outcomes();
    void refresh();
    void refresh_header();
    void refresh_tiles();
    void request_close();
    bool session_may_end();
    void close_when_done();
    void toggle_pause();
    void show_details();
    int ask(const std::string& text, UINT style);

    Station station_;
    ImageSource images_;  // where the images come from, checked before the window opens
    std::chrono::steady_clock::time_point started_{};
    HWND hwnd_ = nullptr;
    HICON icon_ = nullptr;
    HFONT font_ = nullptr;
    HWND image_line_ = nullptr;
    HWND report_line_ = nullptr;
    HWND totals_line_ = nullptr;
    HWND state_line_ = nullptr;
    HWND pause_button_ = nullptr;
    HWND details_button_ = nullptr;
    HWND close_button_ = nullptr;
    TilePanel tiles_;
    AdapterLabels adapters_;
    std::map<std::string, std::string> notes_;  // the station's last word about each port
    int flashed_seen_ = 0;
    int completed_seen_ = 0;
    bool changed_ = true;         // something to redraw since the last refresh
    ULONGLONG last_refresh_ = 0;  // GetTickCount64 of the last refresh
    bool closing_ = false;        // asked to quit once the flashes in progress are done
    bool asking_ = false;         // the close question is open
    int open_boxes_ = 0;          // message boxes open over the window
};
