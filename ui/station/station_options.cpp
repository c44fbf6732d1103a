#include "ui/station/station_options.h"

#include <CLI/CLI.hpp>

#include "station/line_report.h"
#include "station/port_names.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/output_files.h"
#include "tools/download_cli/printable_text.h"

namespace {

constexpr char PROGRAM[] = "korvan-station";

int usage_error(std::ostream& err, const std::string& message) {
    err << PROGRAM << ": " << message << '\n';
    return STATION_USAGE_ERROR;
}

// The names of a --ports list; an empty one ("", "COM3,,COM4") stays, to be refused.
std::vector<std::string> split_at_commas(const std::string& list) {
    std::vector<std::string> names;
    std::size_t begin = 0;
    for (std::size_t comma; (comma = list.find(',', begin)) != std::string::npos;
         begin = comma + 1) {
        names.push_back(list.substr(begin, comma - begin));
    }
    names.push_back(list.substr(begin));
    return names;
}

bool has_empty_name(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        if (port.empty()) {
            return true;
        }
    }
    return false;
}

// The console's checks of the files a station writes, on the same terms.
std::string output_files_problem(const StationOptions& options) {
    CliOptions console;
    console.ports = options.ports;
    console.all_ports = options.all_ports;
    console.watch = true;
    console.image_path = options.image_path;
    console.report_path = options.report_path;
    console.trace_path = options.trace_path;
    if (std::string why = output_files_refusal(console); !why.empty()) {
        return why;
    }
    std::string error;
    if (!options.report_path.empty() && !can_append_to(options.report_path, error)) {
        return "cannot append to " + printable(options.report_path) + ": " + error;
    }
    return {};
}

}  // namespace

// KORVAN_VERSION comes from the build (the project's version).
std::optional<StationOptions> parse_station_options(int argc, char** argv, std::ostream& out,
                                                    std::ostream& err, int& exit_code) {
    StationOptions options;
    std::string port_list;
    CLI::App app{
        "Flashes modems at a bench, in a window with one tile per serial port: each modem that "
        "appears on one of the ports is flashed once, and its tile keeps its result (green "
        "complete, red failed) until the modem is removed. Without --ports every serial port "
        "found is watched. Without --image each modem's image comes from ./modems.cfg.",
        PROGRAM};
    CLI::Option* ports = app.add_option("--ports", port_list,
                                        "Watch these devices or COM names, one download per port")
                             ->type_name("DEV[,DEV...]");
    app.add_flag("--all-ports", options.all_ports, "Watch every serial port found (the default)")
        ->excludes(ports);
    app.add_option("--image", options.image_path,
                   "Download image for every modem, in place of ./modems.cfg")
        ->type_name("FILE");
    app.add_option("--report", options.report_path, "Append one JSON object per flash to this file")
        ->type_name("FILE");
    std::vector<std::string> filter_texts;
    app.add_option("--port-filter", filter_texts,
                   "Use only ports whose USB adapter has this vendor id (and product id and "
                   "serial number, when given); ids in hex. Given again, a port matching any "
                   "of the filters is used")
        ->type_name("vid=HEX[,pid=HEX][,serial=TEXT]")
        ->allow_extra_args(false);
    app.add_option("--trace", options.trace_path,
                   "Write a trace of every flash's serial line into this directory")
        ->type_name("DIR");
    app.set_version_flag("--version", std::string(PROGRAM) + " " + KORVAN_VERSION);
    // Every complaint names the program, as a message from a desktop launcher must.
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string(PROGRAM) + ": " + error.what() +
               "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        exit_code = app.exit(error, out, err) == 0 ? 0 : STATION_USAGE_ERROR;
        return std::nullopt;
    }
    if (std::string problem;
        !parse_port_filter_options(filter_texts, options.port_filters, problem)) {
        exit_code = usage_error(err, problem);
        return std::nullopt;
    }
    if (ports->count() > 0) {
        options.ports = split_at_commas(port_list);
    }
    if (has_empty_name(options.ports)) {
        // An empty name would reach a download as no port at all, which searches every port.
        exit_code = usage_error(err, "--ports holds an empty name");
        return std::nullopt;
    }
    if (options.ports.size() > STATION_MAX_TILES) {
        exit_code = usage_error(err, "--ports names " + std::to_string(options.ports.size()) +
                                         " ports; the window has tiles for " +
                                         std::to_string(STATION_MAX_TILES));
        return std::nullopt;
    }
    if (const std::string twice = device_named_twice(options.ports); !twice.empty()) {
        exit_code = usage_error(err, "--ports names " + printable(twice) + " twice");
        return std::nullopt;
    }
    options.all_ports = options.ports.empty();
    if (const std::string problem = output_files_problem(options); !problem.empty()) {
        exit_code = usage_error(err, problem);
        return std::nullopt;
    }
    return options;
}

StationSettings station_settings(const StationOptions& options, const std::string& program) {
    StationSettings settings;
    settings.ports = options.ports;
    settings.all_ports = options.all_ports;
    settings.watch = true;
    settings.image_path = options.image_path;
    settings.report_path = options.report_path;
    settings.trace_path = options.trace_path;
    settings.port_filters = options.port_filters;
    settings.program_path = program;
    return settings;
}
