#include "ui/win32/download_app.h"

#include <commctrl.h>

#include "port/port_transfer.h"
#include "ui/win32/download_dlg.h"
#include "ui/win32/message_pump.h"

CDownloadApp theApp;

BOOL CDownloadApp::InitInstance() {
    InitCommonControls();  // registers "msctls_progress32"
    set_pending_message_dispatcher(dispatch_window_messages);

    CDownloadDlg dialog;
    ModalDialog::set_main_dialog(&dialog);
    result_ = static_cast<int>(dialog.DoModal());
    ModalDialog::set_main_dialog(nullptr);
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    return theApp.result();
}
