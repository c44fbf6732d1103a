#include "ui/win32/download_app.h"

#include <commctrl.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "port/port_transfer.h"
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

namespace {

// A window program has no console of its own: the text goes to standard output or error when
// the caller gave it one (a redirection, a pipe), else into a message box.
void show_command_line_text(const std::string& text, bool is_error) {
    if (text.empty()) {
        return;
    }
    HANDLE handle = GetStdHandle(is_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
        GetFileType(handle) != FILE_TYPE_UNKNOWN &&
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxA(nullptr, text.c_str(), "Korvan Download Utility",
                MB_OK | (is_error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::ostringstream out;
    std::ostringstream err;
    int exit_code = 0;
    const bool run = parse_window_options(__argc, __argv, out, err, exit_code).has_value();
    show_command_line_text(out.str(), false);
    show_command_line_text(err.str(), true);
    if (!run) {
        return exit_code;
    }
    theApp.InitInstance();
    return theApp.result();
}
