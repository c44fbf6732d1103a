#include "ui/wx/download_file_dlg.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/utils.h>

#include "engine/download_host.h"
#include "ui/control_ids.h"
#include "ui/wx/app_icon.h"
#include "ui/wx/wx_text.h"

namespace {

constexpr long PROMPT_STYLE = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX;

}  // namespace

CDownloadFileDlg::CDownloadFileDlg(wxWindow* owner)
    : wxDialog(owner, IDD_DOWNLOAD_FILE_DIALOG, "Specify Download File", wxDefaultPosition,
               wxDefaultSize, PROMPT_STYLE) {
    SetIcon(make_app_icon());
    create_controls();
    SetClientSize(wxDLG_UNIT(this, wxSize(186, 46)));
    CentreOnParent();

    Bind(wxEVT_INIT_DIALOG, &CDownloadFileDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnCancel, this, wxID_CANCEL);
    Bind(wxEVT_BUTTON, &CDownloadFileDlg::OnBrowse, this, IDC_BROWSE);
}

// Created in tab order: OK, Cancel, path field, Browse.
void CDownloadFileDlg::create_controls() {
    auto* ok = new wxButton(this, wxID_OK, "OK", wxDLG_UNIT(this, wxPoint(7, 25)),
                            wxDLG_UNIT(this, wxSize(50, 14)));
    ok->SetDefault();
    new wxButton(this, wxID_CANCEL, "Cancel", wxDLG_UNIT(this, wxPoint(68, 25)),
                 wxDLG_UNIT(this, wxSize(50, 14)));
    path_field_ =
        new wxTextCtrl(this, IDC_PATH_FIELD, wxEmptyString, wxDLG_UNIT(this, wxPoint(7, 7)),
                       wxDLG_UNIT(this, wxSize(172, 14)));
    new wxButton(this, IDC_BROWSE, "Browse...", wxDLG_UNIT(this, wxPoint(129, 25)),
                 wxDLG_UNIT(this, wxSize(50, 14)));
}

void CDownloadFileDlg::OnInitDialog(wxInitDialogEvent&) {
    focus_path_field();
}

void CDownloadFileDlg::OnOK(wxCommandEvent&) {
    confirm();
}

void CDownloadFileDlg::OnCancel(wxCommandEvent&) {
    EndModal(DIALOG_RESULT_CANCEL);
}

void CDownloadFileDlg::OnBrowse(wxCommandEvent&) {
    wxFileDialog chooser(this, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString,
                         download_file_filter('|'), wxFD_OPEN);
    if (chooser.ShowModal() == wxID_OK) {
        take_chosen_file(to_native_path(chooser.GetPath()).c_str());
    }
}

std::string CDownloadFileDlg::path_field_text() {
    return to_native_path(path_field_->GetValue());
}

void CDownloadFileDlg::set_path_field_text(const char* text) {
    path_field_->SetValue(to_wx_text(text));
}

void CDownloadFileDlg::focus_path_field() {
    path_field_->SetFocus();
}

void CDownloadFileDlg::beep() {
    wxBell();
}

void CDownloadFileDlg::end_prompt(int result) {
    EndModal(result);
}
