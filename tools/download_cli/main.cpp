// korvan-download-cli: the download engine hosted in a terminal. Runs one download and exits
// with 0 (complete), 1 (failed) or 2 (download file prompt cancelled); with several ports,
// one download per port in child processes (exit 0 only when every port completed).
#include <iostream>

#include "port/clock.h"
#include "port/port_trace.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/console_timer.h"
#include "tools/download_cli/event_download.h"
#include "tools/download_cli/output_files.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/production_line.h"
#include "tools/download_cli/single_download.h"
#include "tools/download_cli/skipped_port_report.h"

namespace {

int run_download(const CliOptions& options) {
    ConsoleTimer timer;
    ConsoleHost host(std::cout, std::cin, ConsoleKind{stdout_is_terminal(), stdin_is_terminal()},
                     timer);
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };
    hooks.interrupted = [&host] {
        host.break_progress_line();
        std::cerr << RUN_GOES_ON_AFTER_INTERRUPT << '\n';
    };
    // The reasons go to stderr: stdout carries only the run's own messages.
    PortFactory factory = reporting_skipped_ports(
        serial_port_factory(), [](const std::string& line) { std::cerr << line << '\n'; });
    std::string error;
    if (!run_single_download(options, host, timer, hooks, error, std::move(factory))) {
        std::cerr << "korvan-download-cli: cannot use " << options.port_device << ": " << error
                  << '\n';
        return EXIT_USAGE_ERROR;
    }
    return host.exit_code();
}

// Runs the download with every byte on the line written to the trace file. A trace that
// cannot be written whole is said at the end; the download and its exit status stand.
int run_traced_download(const CliOptions& options) {
    DroppingFileBuffer buffer;
    std::string error;
    if (!buffer.open(options.trace_path, error)) {
        std::cerr << "korvan-download-cli: cannot write the trace file "
                  << printable(options.trace_path) << ": " << error << '\n';
        return EXIT_USAGE_ERROR;
    }
    std::ostream file(&buffer);
    int exit_code = 0;
    {
        PortTrace trace(file, port_clock());
        set_port_trace(&trace);
        exit_code = options.events ? run_event_download(options) : run_download(options);
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
        return list_serial_ports(std::cout, options->json);
    }
    if (!output_files_are_usable(*options)) {
        return EXIT_USAGE_ERROR;
    }
    if (options->is_production_line()) {
        return run_production_line(*options);
    }
    if (!options->trace_path.empty()) {
        return run_traced_download(*options);
    }
    if (options->events) {
        return run_event_download(*options);
    }
    return run_download(*options);
}
