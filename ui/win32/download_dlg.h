#pragma once

#include <windows.h>

#include "engine/download_host.h"
#include "engine/download_sequencer.h"
#include "ui/win32/modal_dialog.h"

// The progress window: status line, progress bar and Exit. A run begins as the window opens;
// each tick of the window's 25 ms timer is one step of the download sequencer, and the
// engine reports through the DownloadHost operations carried out on the controls here.
class CDownloadDlg : public ModalDialog, public ToolkitHost {
  public:
    explicit CDownloadDlg(HWND parent = nullptr);

    const DownloadSequencer& sequencer() const { return sequencer_; }

    // DownloadHost.
    void show_progress(bool visible) override;
    void set_progress(int position) override;
    void enable_close() override;
    void end_window(int code) override;
    int prompt_download_file() override;
    void start_timer(unsigned timer_id, unsigned period_ms) override;
    void stop_timer(unsigned timer_id) override;

  protected:
    // ToolkitHost.
    void set_status_text(const char* text) override;
    void beep() override;
    void enable_exit() override;

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) override;

  private:
    void paint_minimised();

    HICON icon_;
    DownloadSequencer sequencer_;
    HWND status_line_ = nullptr;
    HWND progress_bar_ = nullptr;
};
