#include "ui/wx/download_dlg.h"

#include <wx/utils.h>

#include "port/clock.h"
#include "ui/control_ids.h"
#include "ui/download_file_prompt.h"
#include "ui/timer_id.h"
#include "ui/wx/app_icon.h"
#include "ui/wx/download_file_dlg.h"
#include "ui/wx/wx_text.h"

namespace {

constexpr long PROGRESS_WINDOW_STYLE =
    wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxDIALOG_NO_PARENT;

}  // namespace

CDownloadDlg::CDownloadDlg()
    : wxDialog(nullptr, IDD_DOWNLOAD_DIALOG, "Korvan Download Utility", wxDefaultPosition,
               wxDefaultSize, PROGRESS_WINDOW_STYLE),
      icon_(make_app_icon()),
      timer_(this, static_cast<int>(draw_timer_id())),
      sequencer_(*this, system_clock(), static_cast<unsigned>(timer_.GetId()),
                 serial_port_factory()) {
    create_controls();
    SetClientSize(wxDLG_UNIT(this, wxSize(187, 61)));
    Centre(wxBOTH);
    // Escape is handled by OnCharHook, which knows whether a run is in progress.
    SetEscapeId(wxID_NONE);

    Bind(wxEVT_TIMER, &CDownloadDlg::OnTimer, this);
    Bind(wxEVT_BUTTON, &CDownloadDlg::OnExit, this, IDC_EXIT);
    Bind(wxEVT_CLOSE_WINDOW, &CDownloadDlg::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CDownloadDlg::OnCharHook, this);
}

CDownloadDlg::~CDownloadDlg() {
    timer_.Stop();
}

void CDownloadDlg::create_controls() {
    status_line_ = new wxStaticText(this, IDC_STATUS_LINE, " ", wxDLG_UNIT(this, wxPoint(7, 10)),
                                    wxDLG_UNIT(this, wxSize(172, 8)),
                                    wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    progress_bar_ =
        new wxGauge(this, IDC_PROGRESS_BAR, PROGRESS_RANGE, wxDLG_UNIT(this, wxPoint(7, 23)),
                    wxDLG_UNIT(this, wxSize(172, 11)), wxGA_HORIZONTAL | wxGA_SMOOTH);
    progress_bar_->Hide();
    auto* exit = new wxButton(this, IDC_EXIT, "Exit", wxDLG_UNIT(this, wxPoint(70, 40)),
                              wxDLG_UNIT(this, wxSize(50, 14)));
    exit->SetDefault();
    exit->Disable();
}

// wxGTK sends the dialog's init event only once the window is on screen, too late for the
// state its first paint must show.
bool CDownloadDlg::Show(bool show) {
    if (show && !initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    return wxDialog::Show(show);
}

void CDownloadDlg::OnInitDialog() {
    SetIcon(icon_);
    // Only a hint to the window manager: OnClose refuses the close itself.
    EnableCloseButton(false);
    status_line_->SetLabelText(" ");
    progress_bar_->Hide();
    progress_bar_->SetRange(PROGRESS_RANGE);
    progress_bar_->SetValue(0);
    sequencer_.begin_run();
}

void CDownloadDlg::OnTimer(wxTimerEvent&) {
    // The timer is stopped during a step; this only guards against a stray tick.
    if (in_step_ || end_requested_) {
        return;
    }
    in_step_ = true;
    sequencer_.OnTimer(static_cast<unsigned>(timer_.GetId()));
    in_step_ = false;
    if (end_requested_) {
        end_with(end_code_);
    }
}

void CDownloadDlg::end_with(int code) {
    timer_.Stop();
    if (IsModal()) {
        EndModal(code);
    }
}

void CDownloadDlg::OnExit(wxCommandEvent&) {
    end_with(DIALOG_RESULT_CANCEL);
}

// Closing in the middle of a run would stop a half-written flash and could leave the modem
// without firmware, so close requests are refused until the run has ended.
void CDownloadDlg::OnClose(wxCloseEvent& event) {
    if (sequencer_.run_in_progress() && event.CanVeto()) {
        event.Veto();
        return;
    }
    end_with(DIALOG_RESULT_CANCEL);
}

void CDownloadDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() != WXK_ESCAPE) {
        event.Skip();
        return;
    }
    if (!sequencer_.run_in_progress()) {
        end_with(DIALOG_RESULT_CANCEL);
    }
}

void CDownloadDlg::set_status_text(const char* text) {
    status_line_->SetLabelText(to_wx_text(text));
    status_line_->Update();
}

void CDownloadDlg::beep() {
    wxBell();
}

void CDownloadDlg::enable_exit() {
    wxWindow* exit = FindWindow(IDC_EXIT);
    exit->Enable();
    // The only control that takes the keyboard: with it focused, Enter and Escape reach us.
    exit->SetFocus();
}

void CDownloadDlg::show_progress(bool visible) {
    progress_bar_->Show(visible);
}

void CDownloadDlg::set_progress(int position) {
    progress_bar_->SetValue(position);
}

void CDownloadDlg::enable_close() {
    EnableCloseButton(true);
}

void CDownloadDlg::end_window(int code) {
    end_code_ = code;
    if (in_step_) {
        end_requested_ = true;
    } else {
        end_with(code);
    }
}

int CDownloadDlg::prompt_download_file() {
    CDownloadFileDlg prompt(this);
    return prompt_result(prompt.ShowModal());
}

void CDownloadDlg::start_timer(unsigned timer_id, unsigned period_ms) {
    timer_.SetOwner(this, static_cast<int>(timer_id));
    timer_.Start(static_cast<int>(period_ms), wxTIMER_CONTINUOUS);
}

void CDownloadDlg::stop_timer(unsigned) {
    timer_.Stop();
}
