#include "tools/download_cli/event_download.h"

#include <chrono>
#include <iostream>
#include <string>

#include "engine/download_image.h"
#include "engine/download_path.h"
#include "port/adapter_identity.h"
#include "port/port_discovery.h"
#include "station/child_process.h"
#include "station/line_report.h"
#include "station/port_run.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/single_download.h"

namespace {

constexpr int STATE_SEARCH = 1;
constexpr int STATE_VALIDATE = 2;

// The serial open, telling the stream about every port whose device did not open and
// keeping the device of the last one that did: the modem the search finds answers there.
PortFactory reporting_port_factory(EventHost& host, std::string& opened_device) {
    PortFactory factory = serial_port_factory();
    auto open = factory.open;
    factory.open = [&host, &opened_device, open](const PortTableEntry& entry, int baud, char parity,
                                                 int data_bits, int stop_bits) {
        PortObject* port = open(entry, baud, parity, data_bits, stop_bits);
        if (port == nullptr || port->status != PORT_OK) {
            host.report_skipped_port(entry.device.empty() ? entry.name : entry.device,
                                     port == nullptr ? PORT_E_NOT_SUPPORTED : port->status);
        } else {
            opened_device = searched_port_device(entry);
        }
        return port;
    };
    return factory;
}

// A station's download keeps its own account of the run, from its own events, and appends
// the run's report line itself: the line is written even when the station is gone.
PortRun station_run(const CliOptions& options) {
    PortRun run;
    run.port = options.station_port;
    run.device = options.port_device;
    run.trace_path = options.trace_path;
    run.started = std::chrono::system_clock::now();
    run.started_steady = std::chrono::steady_clock::now();
    return run;
}

void append_own_report_line(EventHost& host, PortRun& run, const std::string& report_path) {
    // A run that found no modem changed nothing; whether it counts is the station's to say
    // (in watch mode it tries the port again).
    if (!run.finished() || !run.reached_modem()) {
        return;
    }
    finish_run(run, ChildExit{host.exit_code(), 0}, std::chrono::system_clock::now(),
               std::chrono::steady_clock::now());
    std::string error;
    if (append_report(report_path, run, error)) {
        host.report_line_written();
    } else {
        host.report_line_failed(error);
    }
}

}  // namespace

int run_event_download(const CliOptions& options) {
    ConsoleTimer timer;
    EventHost host(std::cout, timer);
    const bool own_report = !options.station_port.empty() && !options.report_path.empty();
    PortRun run = station_run(options);
    if (own_report) {
        host.set_event_observer(
            [&run](const nlohmann::ordered_json& event) { apply_event(run, event); });
    }
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    std::string opened_device;
    hooks.after_step = [&host, &opened_device](const DownloadSequencer& sequencer,
                                               int state_before) {
        if (state_before == STATE_SEARCH && sequencer.state() == STATE_VALIDATE) {
            host.set_adapter(adapter_identity(opened_device));
            host.report_identification(sequencer.identification());
        } else if (state_before == STATE_VALIDATE && sequencer.state() > STATE_VALIDATE) {
            host.report_image(current_download_path,
                              records_checksum_total(sequencer.image_records()),
                              records_sha256(sequencer.image_records()));
        }
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };
    hooks.interrupted = [] { std::cerr << RUN_GOES_ON_AFTER_INTERRUPT << '\n'; };

    std::string error;
    if (!run_single_download(options, host, timer, hooks, error,
                             reporting_port_factory(host, opened_device))) {
        return usage_error(options, "cannot use " + printable(options.port_device) + ": " + error);
    }
    if (own_report) {
        append_own_report_line(host, run, options.report_path);
    }
    return host.exit_code();
}
