#include "ui/wx/download_app.h"

#include "port/port_transfer.h"
#include "ui/wx/download_dlg.h"
#include "ui/wx/pending_event_dispatch.h"

wxIMPLEMENT_APP(CDownloadApp);

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
