#include "ui/win32/download_app.h"

#include <commctrl.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "port/port_transfer.h"
#include "ui/win32/command_line_text.h"
#include "ui/win32/download_dlg.h"
#include "ui/win32/message_pump.h"
#include "ui/window_options.h"

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
    std::ostringstream out;
    std::ostringstream err;
    int exit_code = 0;
    const bool run = parse_window_options(__argc, __argv, out, err, exit_code).has_value();
    show_command_line_text(out.str(), false, "Korvan Download Utility");
    show_command_line_text(err.str(), true, "Korvan Download Utility");
    if (!run) {
        return exit_code;
    }
    theApp.InitInstance();
    return theApp.result();
}
