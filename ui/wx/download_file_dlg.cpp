#include "ui/wx/download_file_dlg.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/utils.h>

#include "engine/download_host.h"
#include "engine/download_path.h"
#include "ui/wx/app_icon.h"
#include "ui/wx/control_ids.h"
#include "ui/wx/wx_text.h"

namespace {

constexpr long PROMPT_STYLE = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX;
const char* const DOWNLOAD_FILE_WILDCARD = "Download Files (*.dl)|*.dl|All Files (*.*)|*.*";

}  // namespace

CDownloadFileDlg::CDownloadFileDlg(wxWindow* owner)
    : wxDialog(owner, FILE_PROMPT_ID, "Specify Download File", wxDefaultPosition, wxDefaultSize,
               PROMPT_STYLE) {
    SetIcon(make_app_icon());
    create_controls();
    SetClientSize(wxDLG_UNIT(this, wxSize(186, 46)));
    CentreOnParent();

    Bind(wxEVT_INIT_DIALOG, &CDownloadFileDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnCancel, this, wxID_CANCEL);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnBrowse, this, BROWSE_BUTTON_ID);
    Bind(wxEVT_HELP, &CDownloadFileDlg::OnHelp, this);
}

// Created in tab order: OK, Cancel, path field, Browse.
void CDownloadFileDlg::create_controls() {
    auto* ok = new wxButton(this, wxID_OK, "OK", wxDLG_UNIT(this, wxPoint(7, 25)),
                            wxDLG_UNIT(this, wxSize(50, 14)));
    ok->SetDefault();
    new wxButton(this, wxID_CANCEL, "Cancel", wxDLG_UNIT(this, wxPoint(68, 25)),
                 wxDLG_UNIT(this, wxSize(50, 14)));
    path_field_ =
        new wxTextCtrl(this, PATH_FIELD_ID, wxEmptyString, wxDLG_UNIT(this, wxPoint(7, 7)),
                       wxDLG_UNIT(this, wxSize(172, 14)));
    new wxButton(this, BROWSE_BUTTON_ID, "Browse...", wxDLG_UNIT(this, wxPoint(129, 25)),
                 wxDLG_UNIT(this, wxSize(50, 14)));
}

void CDownloadFileDlg::OnInitDialog(wxInitDialogEvent&) {
    path_field_->SetFocus();
}

void CDownloadFileDlg::OnOK(wxCommandEvent&) {
    set_current_download_path(to_native_path(path_field_->GetValue()).c_str());
    if (current_download_path[0] == '\0') {
        wxBell();
        path_field_->SetFocus();
        return;
    }
    EndModal(DIALOG_RESULT_OK);
}

void CDownloadFileDlg::OnCancel(wxCommandEvent&) {
    EndModal(DIALOG_RESULT_CANCEL);
}

void CDownloadFileDlg::OnBrowse(wxCommandEvent&) {
    wxFileDialog chooser(this, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString,
                         DOWNLOAD_FILE_WILDCARD, wxFD_OPEN);
    if (chooser.ShowModal() != wxID_OK) {
        return;
    }
    set_current_download_path(to_native_path(chooser.GetPath()).c_str());
    path_field_->SetValue(chooser.GetPath());  // the whole path, even one too long to use
}

// No help file belongs to the program.
void CDownloadFileDlg::OnHelp(wxHelpEvent&) {}
