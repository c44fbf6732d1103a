#include "tools/download_cli/production_line.h"

#include <iostream>
#include <string>
#include <vector>

#include "station/interrupts.h"
#include "station/line_report.h"
#include "station/port_names.h"
#include "station/station.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/image_check.h"
#include "tools/download_cli/line_display.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/terminal.h"

namespace {

// How long the station waits for output before it looks at the ports and the terminal again.
constexpr int LOOK_AGAIN_MS = 200;

StationSettings settings_of(const CliOptions& options) {
    StationSettings settings;
    settings.ports = options.ports;
    settings.all_ports = options.all_ports;
    settings.watch = options.watch;
    settings.image_path = options.image_path;
    settings.report_path = options.report_path;
    settings.trace_path = options.trace_path;
    settings.program_path = own_program_path();
    settings.port_filters = options.port_filters;
    return settings;
}

// Steps the station until it is done. Once started, a download is never cut short: the
// first interrupt only waits for the end; a second Ctrl-C stops the downloads at once.
void run_station(Station& station, LineDisplay& display) {
    bool stop_noted = false;
    bool abort_noted = false;
    while (true) {
        if (interrupt_requested() && !stop_noted) {
            stop_noted = true;
            if (station.running_count() > 0) {
                display.show_note(STATION_NOTE_PORT,
                                  "Interrupted: the downloads in progress finish first (Ctrl-C "
                                  "again stops them at once)");
            }
            station.stop_when_idle();
        }
        if (abort_requested() && !abort_noted) {
            abort_noted = true;
            if (station.running_count() > 0) {
                display.show_note(STATION_NOTE_PORT, "Stopping the downloads in progress at once");
            }
            station.abort_downloads();
        }
        if (station.finished()) {
            return;
        }
        station.step(LOOK_AGAIN_MS);
    }
}

// The last run of each port, and in watch mode how many flashes the station made in all.
void show_summary(const Station& station, LineDisplay& display, bool watch) {
    display.show_ports(station.current_runs());
    display.show_summary(station.last_runs());
    if (watch) {
        display.show_note(STATION_NOTE_PORT,
                          std::to_string(station.flashed_count()) + " flashed, " +
                              std::to_string(station.completed_count()) + " complete");
    }
}

LineOutput output_for(const CliOptions& options) {
    if (options.events) {
        return LineOutput::events;
    }
    return stdout_is_terminal() ? LineOutput::terminal : LineOutput::plain;
}

}  // namespace

int run_production_line(const CliOptions& options) {
    if (const std::string twice = device_named_twice(options.ports); !twice.empty()) {
        return usage_error(options, "--ports names " + printable(twice) + " twice");
    }
    if (!options.report_path.empty()) {
        // Found out before any modem is touched, not after the first one is flashed.
        std::string error;
        if (!can_append_to(options.report_path, error)) {
            return usage_error(options,
                               "cannot append to " + printable(options.report_path) + ": " + error);
        }
    }
    if (!options.image_path.empty()) {
        // One bad image would fail every port: said once, before any child starts.
        const ImageCheck image = check_image(options.image_path);
        if (!image.valid()) {
            std::cerr << "korvan-download-cli: " << printable(options.image_path) << ": "
                      << image.problem << '\n';
            return EXIT_DOWNLOAD_FAILED;
        }
    }
    defer_interrupts(SecondCtrlC::is_noted);
    const LineOutput output = output_for(options);
    if (output == LineOutput::terminal) {
        enable_terminal_sequences();
    }
    LineDisplay display(std::cout, std::cerr, output, terminal_columns);
    Station station(settings_of(options), display);
    std::string error;
    if (!station.start(error)) {
        display.show_note(STATION_NOTE_PORT, error);
        return EXIT_DOWNLOAD_FAILED;
    }
    run_station(station, display);
    show_summary(station, display, options.watch);
    return station.exit_status();
}
