// korvan-download-cli: the download engine hosted in a terminal. Runs one download and exits
// with 0 (complete), 1 (failed) or 2 (download file prompt cancelled).
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>

#include "engine/download_path.h"
#include "engine/download_sequencer.h"
#include "port/clock.h"
#include "port/port_trace.h"
#include "port/port_transfer.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/console_timer.h"
#include "tools/download_cli/skipped_port_report.h"

namespace {

// Like the window, a fresh timer identifier for every run.
unsigned draw_timer_id() {
    std::minstd_rand generator(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
    return static_cast<unsigned>(generator());
}

int run_download(const CliOptions& options) {
    ConsoleTimer timer;
    ConsoleHost host(std::cout, std::cin, ConsoleKind{stdout_is_terminal(), stdin_is_terminal()},
                     timer);
    // The reasons go to stderr: stdout carries only the run's own messages.
    DownloadSequencer sequencer(
        host, system_clock(), draw_timer_id(),
        reporting_skipped_ports(serial_port_factory(),
                                [](const std::string& line) { std::cerr << line << '\n'; }));
    host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    set_pending_message_dispatcher(wait_briefly_for_input);

    if (!options.port_device.empty()) {
        std::string error;
        std::optional<PortTableEntry> entry = port_entry_for_device(options.port_device, error);
        if (!entry) {
            std::cerr << "korvan-download-cli: cannot use " << options.port_device << ": " << error
                      << '\n';
            return EXIT_USAGE_ERROR;
        }
        sequencer.set_port_table({*entry});
    }

    sequencer.begin_run();  // clears the current download path
    if (!options.image_path.empty()) {
        // The image named on the command line wins over any modems.cfg entry.
        sequencer.set_modem_map_path("");
        set_current_download_path(options.image_path.c_str());
    }

    run_timer_loop(
        timer, [&host] { return !host.window_ended(); },
        [&sequencer](unsigned timer_id) { sequencer.OnTimer(timer_id); });

    set_pending_message_dispatcher(nullptr);
    return host.exit_code();
}

// Runs the download with every byte on the line written to the trace file.
int run_traced_download(const CliOptions& options) {
    std::ofstream file(options.trace_path, std::ios::binary | std::ios::trunc);
    if (!file) {
        std::cerr << "korvan-download-cli: cannot write the trace file " << options.trace_path
                  << '\n';
        return EXIT_USAGE_ERROR;
    }
    PortTrace trace(file, port_clock());
    set_port_trace(&trace);
    const int exit_code = run_download(options);
    set_port_trace(nullptr);
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = 0;
    const std::optional<CliOptions> options = parse_cli_options(argc, argv, exit_code);
    if (!options) {
        return exit_code;
    }
    if (options->list_ports) {
        return list_serial_ports(std::cout, options->json);
    }
    return options->trace_path.empty() ? run_download(*options) : run_traced_download(*options);
}
