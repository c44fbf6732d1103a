#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/icon.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "engine/download_host.h"
#include "engine/download_sequencer.h"

// The progress window: the program's one main window. It owns the run state, drives the
// download sequencer from its timer and shows what the sequencer reports.
class CDownloadDlg : public wxDialog, public ToolkitHost {
  public:
    CDownloadDlg();
    ~CDownloadDlg() override;

    // Initialises the window before it first appears, so its first paint already has the
    // icon, the grayed Close and the blank status line.
    bool Show(bool show = true) override;

    // DownloadHost
    void show_progress(bool visible) override;
    void set_progress(int position) override;
    void enable_close() override;
    void end_window(int code) override;
    int prompt_download_file() override;
    void start_timer(unsigned timer_id, unsigned period_ms) override;
    void stop_timer(unsigned timer_id) override;

  protected:
    // ToolkitHost
    void set_status_text(const char* text) override;
    void beep() override;
    void enable_exit() override;

  private:
    void create_controls();
    void OnInitDialog();
    void end_with(int code);

    void OnTimer(wxTimerEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);

    wxIcon icon_;
    wxTimer timer_;
    DownloadSequencer sequencer_;
    wxStaticText* status_line_ = nullptr;
    wxGauge* progress_bar_ = nullptr;
    bool initialised_ = false;
    bool in_step_ = false;
    bool end_requested_ = false;
    int end_code_ = DIALOG_RESULT_CANCEL;
};
