#include "ui/station/wx/station_frame.h"

#include <wx/display.h>
#include <wx/msgdlg.h>
// After msgdlg.h, which it builds on.
#include <wx/generic/msgdlgg.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/utils.h>
#include <wx/wrapsizer.h>

#include "station/interrupts.h"
#include "tools/download_cli/printable_text.h"
#include "ui/station/details_model.h"
#include "ui/station/header_model.h"
#include "ui/wx/app_icon.h"

namespace {

using std::chrono::steady_clock;

constexpr char TITLE[] = "Korvan Download Station";
// Often enough that the window answers at once and a bar moves smoothly; step(0) never
// blocks, so a tick costs only what the children wrote since the last one.
constexpr int TICK_MS = 50;
constexpr auto BELL_GAP = std::chrono::milliseconds(250);
constexpr int TILE_GAP = 4;
// 4 by 4 tiles fit a 1280x1024 screen with the header and the window's frame.
constexpr int COLUMNS_SHOWN = 4;
constexpr int ROWS_SHOWN = 4;

enum ControlId { ID_PAUSE = wxID_HIGHEST + 1, ID_DETAILS };

bool is_outcome(TileState state) {
    return state == TileState::complete || state == TileState::failed ||
           state == TileState::no_image;
}

wxString ascii(const std::string& text) {
    return wxString::FromAscii(text.c_str());
}

}  // namespace

StationFrame::StationFrame(const StationOptions& options, const ImageSource& images,
                           const std::string& download_program, int& exit_status)
    : wxFrame(nullptr, wxID_ANY, TITLE),
      exit_status_(exit_status),
      images_(images),
      station_(station_settings(options, download_program), *this),
      timer_(this),
      started_(steady_clock::now()) {
    SetIcon(make_app_icon());
    create_controls();
    Bind(wxEVT_TIMER, &StationFrame::on_timer, this);
    Bind(wxEVT_CLOSE_WINDOW, &StationFrame::on_close, this);
    Bind(wxEVT_BUTTON, &StationFrame::on_pause, this, ID_PAUSE);
    Bind(wxEVT_BUTTON, &StationFrame::on_details, this, ID_DETAILS);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);
    Bind(EVT_TILE_SELECTED, &StationFrame::on_tile_selected, this);
    Bind(EVT_TILE_DETAILS, &StationFrame::on_tile_details, this);
}

StationFrame::~StationFrame() {
    timer_.Stop();
}

void StationFrame::create_controls() {
    auto* panel = new wxPanel(this);
    auto* header = new wxBoxSizer(wxHORIZONTAL);
    auto* texts = new wxBoxSizer(wxVERTICAL);
    const auto header_line = [&](bool bold) {
        auto* label = new wxStaticText(panel, wxID_ANY, " ");
        if (bold) {
            label->SetFont(label->GetFont().Bold().Larger());
        }
        texts->Add(label, 0, wxBOTTOM, FromDIP(2));
        return label;
    };
    totals_ = header_line(true);
    state_ = header_line(true);
    image_ = header_line(false);
    report_ = header_line(false);
    header->Add(texts, 1, wxALL, FromDIP(8));
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    pause_ = new wxButton(panel, ID_PAUSE, "Pause");
    details_ = new wxButton(panel, ID_DETAILS, "Details...");
    details_->Disable();
    buttons->Add(pause_, 0, wxEXPAND | wxBOTTOM, FromDIP(4));
    buttons->Add(details_, 0, wxEXPAND | wxBOTTOM, FromDIP(4));
    buttons->Add(new wxButton(panel, wxID_CLOSE, "Close"), 0, wxEXPAND);
    header->Add(buttons, 0, wxALL, FromDIP(8));

    grid_ = new wxScrolledWindow(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                 wxVSCROLL | wxBORDER_NONE);
    grid_->SetScrollRate(0, FromDIP(20));
    // A wrap sizer reflows the tiles into as many columns as the width takes.
    grid_->SetSizer(new wxWrapSizer(wxHORIZONTAL));
    grid_->Bind(wxEVT_SIZE, &StationFrame::on_grid_size, this);

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(header, 0, wxEXPAND);
    column->Add(grid_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(TILE_GAP));
    panel->SetSizer(column);
    CreateStatusBar();

    auto* frame_sizer = new wxBoxSizer(wxVERTICAL);
    frame_sizer->Add(panel, 1, wxEXPAND);
    SetSizer(frame_sizer);
    SetMinClientSize(FromDIP(wxSize(360, 320)));
    SetClientSize(first_client_size(header->CalcMin().GetHeight()));
    Centre();
}

// Room for COLUMNS_SHOWN by ROWS_SHOWN tiles below the header, within the screen: a smaller
// screen scrolls instead of losing the buttons.
wxSize StationFrame::first_client_size(int header_height) {
    const wxSize tile = TilePanel::tile_size(this);
    const int cell = FromDIP(2 * TILE_GAP);
    const int scroll_bar = FromDIP(16);
    wxSize wanted(COLUMNS_SHOWN * (tile.GetWidth() + cell) + 2 * cell + scroll_bar,
                  header_height + ROWS_SHOWN * (tile.GetHeight() + cell) + 2 * cell);
    const wxRect screen = wxDisplay(wxDisplay::GetFromWindow(this) == wxNOT_FOUND
                                        ? 0u
                                        : static_cast<unsigned>(wxDisplay::GetFromWindow(this)))
                              .GetClientArea();
    // The frame's decorations and status bar take some of the screen too.
    const wxSize outside = GetSize() - GetClientSize() + FromDIP(wxSize(0, 64));
    wanted.DecTo(screen.GetSize() - outside);
    return wanted;
}

bool StationFrame::start(std::string& error) {
    if (!station_.start(error)) {
        return false;
    }
    refresh();
    timer_.Start(TICK_MS);
    return true;
}

void StationFrame::on_timer(wxTimerEvent&) {
    // A question asked from inside a tick runs its own event loop, which delivers ticks.
    if (stepping_) {
        return;
    }
    stepping_ = true;
    station_.step(0);
    if (!closing_ && interrupt_requested()) {
        // A termination request (a session's end, a service manager's stop) is a close
        // the operator already agreed to.
        closing_ = true;
        station_.stop_when_idle();
    }
    if (abort_requested()) {
        station_.abort_downloads();
    }
    refresh();
    stepping_ = false;
    if (closing_ && station_.running_count() == 0) {
        close_when_done();
    }
}

void StationFrame::on_close(wxCloseEvent& event) {
    if (station_.running_count() == 0 || !event.CanVeto()) {
        // Nothing to wait for, or the system does not wait: the downloads running now are
        // children of their own that finish and report without us.
        close_when_done();
        return;
    }
    event.Veto();
    if (!closing_ && !asking_) {
        ask_to_close();
    }
}

void StationFrame::ask_to_close() {
    asking_ = true;
    // The generic dialog, not GTK's own: only a dialog in wx's own modal loop can be ended
    // by the program when a termination request closes the window under the question.
    wxGenericMessageDialog question(
        this,
        wxString::FromAscii(
            close_question(station_.running_count(), station_.modems_in_progress()).c_str()),
        TITLE, wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION);
    question.SetYesNoLabels("&Quit when done", "&Keep running");
    const bool quit = show_modal(question) == wxID_YES;
    asking_ = false;
    if (close_due_) {
        Destroy();
        return;
    }
    if (!quit || closing_) {
        return;  // kept running, or a termination request already closes the window
    }
    closing_ = true;
    station_.stop_when_idle();
    refresh_header();
    if (station_.running_count() == 0) {
        close_when_done();
    }
}

int StationFrame::show_modal(wxDialog& dialog) {
    open_dialog_ = &dialog;
    const int answer = dialog.ShowModal();
    open_dialog_ = nullptr;
    return answer;
}

void StationFrame::close_when_done() {
    timer_.Stop();
    exit_status_ = station_.exit_status();
    if (open_dialog_ != nullptr) {
        close_due_ = true;
        open_dialog_->EndModal(wxID_CANCEL);  // destroyed once its loop has ended
        return;
    }
    Destroy();
}

void StationFrame::on_pause(wxCommandEvent&) {
    station_.set_paused(!station_.paused());
    pause_->SetLabel(station_.paused() ? "Resume" : "Pause");
    refresh_header();
}

void StationFrame::on_details(wxCommandEvent&) {
    if (selected_ != nullptr) {
        show_details(selected_);
    }
}

void StationFrame::on_tile_selected(wxCommandEvent& event) {
    select(static_cast<TilePanel*>(event.GetEventObject()));
}

void StationFrame::on_tile_details(wxCommandEvent& event) {
    auto* tile = static_cast<TilePanel*>(event.GetEventObject());
    select(tile);
    show_details(tile);
}

void StationFrame::select(TilePanel* tile) {
    if (selected_ != nullptr) {
        selected_->set_selected(false);
    }
    selected_ = tile;
    selected_->set_selected(true);
    details_->Enable();
}

void StationFrame::on_grid_size(wxSizeEvent& event) {
    grid_->FitInside();
    event.Skip();
}

void StationFrame::show_details(const TilePanel* tile) {
    std::string port;
    std::string adapter;
    const std::vector<const PortRun*> runs = station_.current_runs();
    for (std::size_t index = 0; index < tiles_.size() && index < runs.size(); ++index) {
        if (tiles_[index] == tile) {
            port = runs[index]->port;
            adapter = adapters_.label_of(*runs[index]);
        }
    }
    const auto note = notes_.find(port);
    const std::string text = details_text(port, adapter, last_run_of(station_.last_runs(), port),
                                          note == notes_.end() ? "" : note->second);

    wxDialog details(this, wxID_ANY, "Details: " + ascii(printable(port)), wxDefaultPosition,
                     wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* body = new wxTextCtrl(&details, wxID_ANY, ascii(text), wxDefaultPosition,
                                details.FromDIP(wxSize(620, 360)),
                                wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    sizer->Add(body, 1, wxEXPAND | wxALL, details.FromDIP(8));
    sizer->Add(details.CreateButtonSizer(wxOK), 0, wxEXPAND | wxALL, details.FromDIP(8));
    details.SetSizerAndFit(sizer);
    details.Centre();
    show_modal(details);
    if (close_due_) {
        Destroy();
    }
}

void StationFrame::show_event(const PortRun&, const nlohmann::ordered_json&) {
    // The tiles are redrawn from the runs after every step.
}

void StationFrame::show_note(const std::string& port, const std::string& text) {
    notes_[port] = text;
    SetStatusText(ascii(printable(port) + ": " + printable(text)));
}

void StationFrame::show_modem_gone(const std::string&) {}

void StationFrame::show_ports(const std::vector<const PortRun*>&) {
    // Drawn after the step from current_runs(), at the window's own pace.
}

void StationFrame::refresh() {
    refresh_tiles();
    refresh_header();
    ring_bells(steady_clock::now());
}

void StationFrame::refresh_header() {
    const Header header = header_of(
        header_facts(station_, images_, started_, closing_, static_cast<int>(tiles_.size())));
    const auto set = [](wxStaticText* label, const std::string& text) {
        if (label->GetLabelText() != ascii(text)) {
            label->SetLabelText(ascii(text));
        }
    };
    set(totals_, header.totals);
    set(state_, header.state);
    set(image_, header.image);
    set(report_, header.report);
}

void StationFrame::refresh_tiles() {
    const std::vector<const PortRun*> runs = station_.current_runs();
    const auto now = steady_clock::now();
    bool added = false;
    while (tiles_.size() < runs.size()) {
        tiles_.push_back(new TilePanel(grid_));
        grid_->GetSizer()->Add(tiles_.back(), 0, wxALL, FromDIP(TILE_GAP));
        added = true;
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const Tile tile = tile_of(*runs[index], adapters_.label_of(*runs[index]), now);
        TileState& before = states_[runs[index]->port];
        if (is_outcome(tile.state) && !is_outcome(before)) {
            // A failure rings twice: heard from across the bench without looking.
            bells_due_ += tile.state == TileState::complete ? 1 : 2;
        }
        before = tile.state;
        tiles_[index]->show(tile);
    }
    if (added) {
        grid_->Layout();
        grid_->FitInside();
    }
}

void StationFrame::ring_bells(steady_clock::time_point now) {
    if (bells_due_ > 0 && now >= next_bell_) {
        wxBell();
        --bells_due_;
        next_bell_ = now + BELL_GAP;
    }
}
