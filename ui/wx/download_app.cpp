#include "ui/wx/download_app.h"

#include <iostream>

#include "port/port_transfer.h"
#include "ui/window_options.h"
#include "ui/wx/download_dlg.h"
#include "ui/wx/pending_event_dispatch.h"

wxIMPLEMENT_APP_NO_MAIN(CDownloadApp);

// The command line is read before the toolkit starts, so --help and --version work without a
// display (the manual pages are made from them at build time).
int main(int argc, char** argv) {
    int exit_code = 0;
    if (!parse_window_options(argc, argv, std::cout, std::cerr, exit_code)) {
        return exit_code;
    }
    return wxEntry(argc, argv);
}

bool CDownloadApp::OnInit() {
    set_pending_message_dispatcher(dispatch_pending_wx_events);
    {
        CDownloadDlg window;
        SetTopWindow(&window);
        window.ShowModal();
        SetTopWindow(nullptr);
    }
    set_pending_message_dispatcher(nullptr);
    // No message loop of our own: the process ends here.
    return false;
}
