#pragma once

#include <wx/dialog.h>
#include <wx/textctrl.h>

// The download file prompt: asks for the path of a download image and writes it into the
// current download path. Ends with DIALOG_RESULT_OK or DIALOG_RESULT_CANCEL.
class CDownloadFileDlg : public wxDialog {
  public:
    explicit CDownloadFileDlg(wxWindow* owner);

  private:
    void create_controls();
    void OnInitDialog(wxInitDialogEvent& event);
    void OnOK(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);
    void OnHelp(wxHelpEvent& event);

    wxTextCtrl* path_field_ = nullptr;
};
