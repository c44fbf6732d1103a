#pragma once

#include <windows.h>

#include "ui/download_file_prompt.h"
#include "ui/win32/modal_dialog.h"

// The download file prompt: asks for the path of a download image, typed or chosen with
// Browse, and writes it into the current download path. Ends with 1 (OK, a non-empty path
// was given) or 2 (Cancel).
class CDownloadFileDlg : public ModalDialog, public DownloadFilePrompt {
  public:
    explicit CDownloadFileDlg(HWND parent = nullptr);

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) override;

    // DownloadFilePrompt.
    std::string path_field_text() override;
    void set_path_field_text(const char* text) override;
    void focus_path_field() override;
    void beep() override;
    void end_prompt(int result) override;

  private:
    void OnBrowse();

    HWND path_field_ = nullptr;
    HICON icon_;
};
