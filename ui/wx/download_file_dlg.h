#pragma once

#include <wx/dialog.h>
#include <wx/textctrl.h>

#include "ui/download_file_prompt.h"

// The download file prompt: asks for the path of a download image and writes it into the
// current download path. Ends with DIALOG_RESULT_OK or DIALOG_RESULT_CANCEL.
class CDownloadFileDlg : public wxDialog, public DownloadFilePrompt {
  public:
    explicit CDownloadFileDlg(wxWindow* owner);

  protected:
    // DownloadFilePrompt
    std::string path_field_text() override;
    void set_path_field_text(const char* text) override;
    void focus_path_field() override;
    void beep() override;
    void end_prompt(int result) override;

  private:
    void create_controls();
    void OnInitDialog(wxInitDialogEvent& event);
    void OnOK(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);

    wxTextCtrl* path_field_ = nullptr;
};
