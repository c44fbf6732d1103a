#include "ui/win32/download_file_dlg.h"

#include <commdlg.h>

#include <string>

#include "engine/download_path.h"
#include "ui/control_ids.h"
#include "ui/win32/help_engine.h"

CDownloadFileDlg::CDownloadFileDlg(HWND parent)
    : ModalDialog(IDD_DOWNLOAD_FILE_DIALOG, parent),
      icon_(LoadIconA(module(), MAKEINTRESOURCEA(IDI_DOWNLOAD_ICON))) {}

BOOL CDownloadFileDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    path_field_ = GetDlgItem(IDC_PATH_FIELD);
    focus_path_field();
    return FALSE;  // the focus stays in the path field
}

void CDownloadFileDlg::OnOK() {
    confirm();
}

void CDownloadFileDlg::OnCancel() {
    ModalDialog::OnCancel();
}

bool CDownloadFileDlg::OnMessage(UINT message, WPARAM wparam, LPARAM, INT_PTR* result) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_BROWSE && HIWORD(wparam) == BN_CLICKED) {
                OnBrowse();
                *result = TRUE;
                return true;
            }
            return false;
        case WM_MOVE:
        case WM_DESTROY:
            help_quit(hwnd());
            return false;
        default:
            return false;
    }
}

void CDownloadFileDlg::OnBrowse() {
    char chosen[DOWNLOAD_PATH_SIZE] = {};
    // The chooser's list of filters ends with an empty entry.
    std::string filter = download_file_filter('\0');
    filter.push_back('\0');
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = hwnd();
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = chosen;
    request.nMaxFile = sizeof chosen;
    request.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetOpenFileNameA(&request)) {
        return;
    }
    take_chosen_file(chosen);
}

std::string CDownloadFileDlg::path_field_text() {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(path_field_)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextA(path_field_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void CDownloadFileDlg::set_path_field_text(const char* text) {
    SetWindowTextA(path_field_, text);
}

void CDownloadFileDlg::focus_path_field() {
    SetFocus(path_field_);
}

void CDownloadFileDlg::beep() {
    MessageBeep(0xFFFFFFFF);
}

void CDownloadFileDlg::end_prompt(int result) {
    EndDialog(result);
}
