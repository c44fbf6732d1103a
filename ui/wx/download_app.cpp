#include "ui/wx/download_app.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "port/port_trace.h"
#include "port/port_transfer.h"
#include "ui/wx/download_dlg.h"
#include "ui/wx/pending_event_dispatch.h"

wxIMPLEMENT_APP(CDownloadApp);

namespace {

// The window's options; none is needed for a normal run. False when the program is to end
// at once (the text is already printed).
bool parse_window_options(const std::vector<std::string>& arguments, std::string& trace_path) {
    CLI::App app{"Writes a firmware image into a modem on a serial port.", "korvan-download"};
    app.add_option("--trace", trace_path,
                   "Write every byte to and from the serial port, with times and packet "
                   "names, to this file")
        ->type_name("FILE");
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return false;
    }
    return true;
}

}  // namespace

bool CDownloadApp::OnInit() {
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(argv[index].ToStdString());
    }
    std::string trace_path;
    if (!parse_window_options(arguments, trace_path)) {
        return false;
    }
    std::ofstream trace_file;
    std::unique_ptr<PortTrace> trace;
    if (!trace_path.empty()) {
        trace_file.open(trace_path, std::ios::binary | std::ios::trunc);
        if (!trace_file) {
            std::cerr << "korvan-download: cannot write the trace file " << trace_path << '\n';
            return false;
        }
        trace = std::make_unique<PortTrace>(trace_file, port_clock());
        set_port_trace(trace.get());
    }

    set_pending_message_dispatcher(dispatch_pending_wx_events);
    {
        CDownloadDlg window;
        SetTopWindow(&window);
        window.ShowModal();
        SetTopWindow(nullptr);
    }
    set_pending_message_dispatcher(nullptr);
    set_port_trace(nullptr);
    // No message loop of our own: the process ends here.
    return false;
}
