#include "tools/download_cli/event_download.h"

#include <iostream>
#include <string>

#include "engine/download_image.h"
#include "engine/download_path.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/single_download.h"

namespace {

constexpr int STATE_SEARCH = 1;
constexpr int STATE_VALIDATE = 2;

// The serial open, telling the stream about every port whose device did not open.
PortFactory reporting_port_factory(EventHost& host) {
    PortFactory factory = serial_port_factory();
    auto open = factory.open;
    factory.open = [&host, open](const PortTableEntry& entry, int baud, char parity, int data_bits,
                                 int stop_bits) {
        PortObject* port = open(entry, baud, parity, data_bits, stop_bits);
        if (port == nullptr || port->status != PORT_OK) {
            host.report_skipped_port(entry.device.empty() ? entry.name : entry.device,
                                     port == nullptr ? PORT_E_NOT_SUPPORTED : port->status);
        }
        return port;
    };
    return factory;
}

}  // namespace

int run_event_download(const CliOptions& options) {
    keep_running_when_output_closes();
    ConsoleTimer timer;
    EventHost host(std::cout, timer);
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    hooks.after_step = [&host](const DownloadSequencer& sequencer, int state_before) {
        if (state_before == STATE_SEARCH && sequencer.state() == STATE_VALIDATE) {
            host.report_identification(sequencer.identification());
        } else if (state_before == STATE_VALIDATE && sequencer.state() > STATE_VALIDATE) {
            host.report_image(current_download_path,
                              records_checksum_total(sequencer.image_records()));
        }
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };

    std::string error;
    if (!run_single_download(options, host, timer, hooks, error, reporting_port_factory(host))) {
        std::cerr << "korvan-download-cli: cannot use " << options.port_device << ": " << error
                  << '\n';
        return EXIT_USAGE_ERROR;
    }
    return host.exit_code();
}
