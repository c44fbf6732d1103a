#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/icon.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "engine/download_host.h"
#include "engine/download_sequencer.h"
#include "port/clock.h"

// The progress window: the program's one main window. It owns the run state, drives the
// download sequencer from its timer and shows what the sequencer reports.
class CDownloadDlg : public wxDialog, public DownloadHost {
  public:
    CDownloadDlg();
    ~CDownloadDlg() override;

    // DownloadHost
    void show_status(const char* text) override;
    void show_status_and_wait(const char* text, std::uint32_t ms) override;
    void report_outcome(const char* text) override;
    void show_progress(bool visible) override;
    void set_progress(int position) override;
    void enable_close() override;
    void end_window(int code) override;
    int prompt_download_file() override;
    void start_timer(unsigned timer_id, unsigned period_ms) override;
    void stop_timer(unsigned timer_id) override;

  private:
    void create_controls();
    bool run_in_progress() const { return sequencer_.state() != 0; }
    void end_with(int code);

    void OnInitDialog(wxInitDialogEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnHelp(wxHelpEvent& event);

    wxIcon icon_;
    wxTimer timer_;
    DownloadSequencer sequencer_;
    wxStaticText* status_line_ = nullptr;
    wxGauge* progress_bar_ = nullptr;
    bool in_step_ = false;
    bool end_requested_ = false;
    int end_code_ = DIALOG_RESULT_CANCEL;
};
