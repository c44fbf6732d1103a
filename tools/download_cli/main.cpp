// korvan-download-cli: the download engine hosted in a terminal. Runs one download and exits
// with 0 (complete), 1 (failed) or 2 (download file prompt cancelled); with several ports,
// one download per port in child processes (exit 0 only when every port completed). With
// --identify it only asks the modem who it is.
#include <iostream>

#include "port/clock.h"
#include "port/port_trace.h"
#include "station/interrupts.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/console_timer.h"
#include "tools/download_cli/event_download.h"
#include "tools/download_cli/identify.h"
#include "tools/download_cli/output_files.h"
#include "tools/download_cli/port_listing.h"
#include "tools/download_cli/port_search_report.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/production_line.h"
#include "tools/download_cli/single_download.h"
#include "tools/download_cli/terminal.h"

namespace {

// The sequencer's search state: a run that leaves it for the end found no modem.
constexpr int STATE_SEARCH = 1;

int run_download(const CliOptions& options) {
    ConsoleTimer timer;
    ConsoleHost host(std::cout, std::cin, ConsoleKind{stdout_is_terminal(), stdin_is_terminal()},
                     timer);
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };
    bool no_modem_answered = false;
    hooks.after_step = [&no_modem_answered](const DownloadSequencer& sequencer, int state_before) {
        no_modem_answered = state_before == STATE_SEARCH && sequencer.state() == 0;
    };
    hooks.interrupted = [&host] {
        host.break_progress_line();
        std::cerr << RUN_GOES_ON_AFTER_INTERRUPT << '\n';
    };
    // The reasons go to stderr: stdout carries only the run's own messages.
    PortSearchReport search_report([](const std::string& line) { std::cerr << line << '\n'; },
                                   !options.port_device.empty());
    std::string error;
    if (!run_single_download(options, host, timer, hooks, error,
                             search_report.watch(serial_port_factory()))) {
        return usage_error(options, "cannot use " + printable(options.port_device) + ": " + error);
    }
    if (no_modem_answered) {
        std::cerr << search_report.no_modem_line() << '\n';
    }
    return host.exit_code();
}

// A single run: the probe, the event stream or the plain download.
int run_one(const CliOptions& options) {
    if (options.identify) {
        return run_identify(options, std::cout, std::cerr);
    }
    return options.events ? run_event_download(options) : run_download(options);
}

// Runs the download with every byte on the line written to the trace file. A trace that
// cannot be written whole is said at the end; the download and its exit status stand.
int run_traced_download(const CliOptions& options) {
    DroppingFileBuffer buffer;
    std::string error;
    if (!buffer.open(options.trace_path, error)) {
        return usage_error(
            options, "cannot write the trace file " + printable(options.trace_path) + ": " + error);
    }
    std::ostream file(&buffer);
    int exit_code = 0;
    {
        PortTrace trace(file, port_clock());
        set_port_trace(&trace);
        exit_code = run_one(options);
        set_port_trace(nullptr);
    }
    if (const std::string failure = buffer.close(); !failure.empty()) {
        std::cerr << "korvan-download-cli: the trace file " << printable(options.trace_path)
                  << " could not be written whole: " << failure << '\n';
    }
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    keep_running_when_output_closes();
    int exit_code = 0;
    const std::optional<CliOptions> options = parse_cli_options(argc, argv, exit_code);
    if (!options) {
        return exit_code;
    }
    if (!options->station_port.empty()) {
        ignore_interrupts();
    }
    if (options->list_ports) {
        return list_serial_ports(std::cout, options->json, options->port_filters);
    }
    if (const std::string why = output_files_refusal(*options); !why.empty()) {
        return usage_error(*options, why);
    }
    if (options->is_production_line() && !options->identify) {
        return run_production_line(*options);
    }
    if (!options->trace_path.empty()) {
        return run_traced_download(*options);
    }
    return run_one(*options);
}
