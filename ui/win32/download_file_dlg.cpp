#include "ui/win32/download_file_dlg.h"

#include <commdlg.h>

#include <string>

#include "engine/download_path.h"
#include "ui/win32/help_engine.h"
#include "ui/win32/resource_ids.h"

namespace {

constexpr char kDownloadFileFilter[] = "Download Files (*.dl)\0*.dl\0All Files (*.*)\0*.*\0";

}  // namespace

CDownloadFileDlg::CDownloadFileDlg(HWND parent)
    : ModalDialog(IDD_DOWNLOAD_FILE_DIALOG, parent),
      icon_(LoadIconA(module(), MAKEINTRESOURCEA(IDI_DOWNLOAD_ICON))) {}

BOOL CDownloadFileDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    path_field_ = GetDlgItem(IDC_PATH_FIELD);
    SetFocus(path_field_);
    return FALSE;  // the focus stays in the path field
}

void CDownloadFileDlg::OnOK() {
    // The whole text, however long: a path cut to fit would name another file.
    std::string typed(static_cast<std::size_t>(GetWindowTextLengthA(path_field_)) + 1, '\0');
    typed.resize(static_cast<std::size_t>(
        GetWindowTextA(path_field_, typed.data(), static_cast<int>(typed.size()))));
    set_current_download_path(typed.c_str());
    if (current_download_path[0] == '\0') {
        MessageBeep(0xFFFFFFFF);
        SetFocus(path_field_);
        return;
    }
    ModalDialog::OnOK();
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
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = hwnd();
    request.lpstrFilter = kDownloadFileFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = chosen;
    request.nMaxFile = sizeof chosen;
    request.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetOpenFileNameA(&request)) {
        return;
    }
    set_current_download_path(chosen);
    SetWindowTextA(path_field_, chosen);
}
