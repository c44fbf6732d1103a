#include "ui/win32/download_dlg.h"

#include <commctrl.h>

#include "port/clock.h"
#include "ui/control_ids.h"
#include "ui/download_file_prompt.h"
#include "ui/timer_id.h"
#include "ui/win32/download_file_dlg.h"
#include "ui/win32/help_engine.h"

namespace {

constexpr LPARAM PROGRESS_RANGE_PARAM = MAKELPARAM(0, PROGRESS_RANGE);

}  // namespace

CDownloadDlg::CDownloadDlg(HWND parent)
    : ModalDialog(IDD_DOWNLOAD_DIALOG, parent),
      icon_(LoadIconA(module(), MAKEINTRESOURCEA(IDI_DOWNLOAD_ICON))),
      sequencer_(*this, system_clock(), draw_timer_id()) {}

BOOL CDownloadDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    EnableMenuItem(GetSystemMenu(hwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    status_line_ = GetDlgItem(IDC_STATUS_LINE);
    SetWindowTextA(status_line_, " ");
    progress_bar_ = GetDlgItem(IDC_PROGRESS_BAR);
    ShowWindow(progress_bar_, SW_HIDE);
    SendMessageA(progress_bar_, PBM_SETRANGE, 0, PROGRESS_RANGE_PARAM);
    SendMessageA(progress_bar_, PBM_SETPOS, 0, 0);
    sequencer_.begin_run();
    return TRUE;
}

// While a run is in progress the window cannot be left: ending it would abandon the modem
// half-programmed. Enter, Escape and the Close command all arrive here or at OnOK.
void CDownloadDlg::OnOK() {
    if (sequencer_.run_in_progress()) {
        return;
    }
    ModalDialog::OnOK();
}

void CDownloadDlg::OnCancel() {
    if (sequencer_.run_in_progress()) {
        return;
    }
    ModalDialog::OnCancel();
}

bool CDownloadDlg::OnMessage(UINT message, WPARAM wparam, LPARAM, INT_PTR* result) {
    switch (message) {
        case WM_MOVE:
        case WM_DESTROY:
            help_quit(hwnd());
            return false;
        case WM_PAINT:
            if (!IsIconic(hwnd())) {
                return false;
            }
            paint_minimised();
            *result = TRUE;
            return true;
        case WM_TIMER:
            sequencer_.OnTimer(static_cast<unsigned>(wparam));
            *result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<INT_PTR>(icon_);
            return true;
        case WM_HELP:
            show_help_contents(hwnd());
            *result = TRUE;
            return true;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_EXIT && HIWORD(wparam) == BN_CLICKED) {
                help_quit(hwnd());
                OnCancel();
                *result = TRUE;
                return true;
            }
            return false;
        default:
            return false;
    }
}

void CDownloadDlg::paint_minimised() {
    PAINTSTRUCT paint;
    HDC device = BeginPaint(hwnd(), &paint);
    SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(device), 0);
    int icon_width = GetSystemMetrics(SM_CXICON);
    int icon_height = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hwnd(), &client);
    int x = (client.right - icon_width - client.left + 1) / 2;
    int y = (client.bottom - icon_height - client.top + 1) / 2;
    DrawIcon(device, x, y, icon_);
    EndPaint(hwnd(), &paint);
}

void CDownloadDlg::set_status_text(const char* text) {
    SetWindowTextA(status_line_, text);
    // Painted now: the pause after a progress message dispatches nothing.
    UpdateWindow(status_line_);
}

void CDownloadDlg::beep() {
    MessageBeep(0xFFFFFFFF);
}

void CDownloadDlg::enable_exit() {
    EnableWindow(GetDlgItem(IDC_EXIT), TRUE);
}

void CDownloadDlg::show_progress(bool visible) {
    ShowWindow(progress_bar_, visible ? SW_SHOWNORMAL : SW_HIDE);
}

void CDownloadDlg::set_progress(int position) {
    SendMessageA(progress_bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CDownloadDlg::enable_close() {
    EnableMenuItem(GetSystemMenu(hwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
}

void CDownloadDlg::end_window(int code) {
    EndDialog(code);
}

int CDownloadDlg::prompt_download_file() {
    CDownloadFileDlg prompt;
    return prompt_result(prompt.DoModal());
}

void CDownloadDlg::start_timer(unsigned timer_id, unsigned period_ms) {
    SetTimer(hwnd(), timer_id, period_ms, nullptr);
}

void CDownloadDlg::stop_timer(unsigned timer_id) {
    KillTimer(hwnd(), timer_id);
}
