// korvan-download-cli: the download engine hosted in a terminal. Runs one download and exits
// with 0 (complete), 1 (failed) or 2 (download file prompt cancelled); with several ports,
// one download per port in child processes (exit 0 only when every port completed).
#include <iostream>

#include "port/clock.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/console_timer.h"
#include "tools/download_cli/event_download.h"
#include "tools/download_cli/production_line.h"
#include "tools/download_cli/single_download.h"

namespace {

int run_download(const CliOptions& options) {
    Clock& clock = port_clock();
    ConsoleTimer timer;
    ConsoleHost host(std::cout, std::cin, ConsoleKind{stdout_is_terminal(), stdin_is_terminal()},
                     timer, clock);
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };
    std::string error;
    if (!run_single_download(options, host, timer, clock, hooks, error)) {
        std::cerr << "korvan-download-cli: cannot use " << options.port_device << ": " << error
                  << '\n';
        return EXIT_USAGE_ERROR;
    }
    return host.exit_code();
}

}  // namespace

int main(int argc, char** argv) {
    int exit_code = 0;
    const std::optional<CliOptions> options = parse_cli_options(argc, argv, exit_code);
    if (!options) {
        return exit_code;
    }
    if (options->is_production_line()) {
        return run_production_line(*options);
    }
    if (options->events) {
        return run_event_download(*options);
    }
    return run_download(*options);
}
