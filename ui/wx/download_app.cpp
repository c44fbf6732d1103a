#include "ui/wx/download_app.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "port/clock.h"
#include "port/port_trace.h"
#include "port/port_transfer.h"
#include "ui/window_options.h"
#include "ui/wx/download_dlg.h"
#include "ui/wx/pending_event_dispatch.h"

wxIMPLEMENT_APP_NO_MAIN(CDownloadApp);

namespace {

// Runs the toolkit, with every byte on the line written to the trace file when one is asked
// for.
int run_window(int argc, char** argv, const WindowOptions& options) {
    std::ofstream trace_file;
    std::unique_ptr<PortTrace> trace;
    if (!options.trace_path.empty()) {
        trace_file.open(options.trace_path, std::ios::binary | std::ios::trunc);
        if (!trace_file) {
            std::cerr << "korvan-download: cannot write the trace file " << options.trace_path
                      << '\n';
            return WINDOW_USAGE_ERROR;
        }
        trace = std::make_unique<PortTrace>(trace_file, port_clock());
        set_port_trace(trace.get());
    }
    const int exit_code = wxEntry(argc, argv);
    set_port_trace(nullptr);
    return exit_code;
}

}  // namespace

// The command line is read before the toolkit starts, so --help and --version work without a
// display.
int main(int argc, char** argv) {
    int exit_code = 0;
    const std::optional<WindowOptions> options =
        parse_window_options(argc, argv, std::cout, std::cerr, exit_code);
    if (!options) {
        return exit_code;
    }
    // The toolkit sees no options of ours.
    char* program_only[] = {argv[0], nullptr};
    return run_window(1, program_only, *options);
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
