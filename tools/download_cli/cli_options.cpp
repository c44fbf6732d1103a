#include "tools/download_cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace {

bool has_empty_element(const std::string& list) {
    return list.empty() || list.front() == ',' || list.back() == ',' ||
           list.find(",,") != std::string::npos;
}

// Whether a --ports list holds an empty name ("", "COM3,,COM4"): the parser drops empty
// elements of a list, so the words are looked at as given.
bool has_empty_port_name(int argc, char** argv) {
    const std::string option = "--ports";
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        if (word == option && index + 1 < argc && has_empty_element(argv[index + 1])) {
            return true;
        }
        if (word.rfind(option + "=", 0) == 0 && has_empty_element(word.substr(option.size() + 1))) {
            return true;
        }
    }
    return false;
}

}  // namespace

// KORVAN_VERSION comes from the build (the project's version).
std::optional<CliOptions> parse_cli_options(int argc, char** argv, int& exit_code) {
    CliOptions options;
    CLI::App app{
        "Writes a firmware image into a modem on a serial port. Searches COM3, COM4, COM2, "
        "COM1, COM5..COM9 at 115200 and 57600 baud, picks the image from ./modems.cfg or asks "
        "for it on standard input, and reports every step on standard output.\n"
        "On Linux COMn is the device named by the environment variable KORVAN_COM<n>, "
        "else the machine's serial device numbered COMn (see --list-ports).\n"
        "With --ports or --all-ports every port gets its own download, all at once, each in "
        "a child process, and nobody is asked for an image: a port without a valid image "
        "ends as cancelled.\n"
        "Ctrl-C, SIGTERM and SIGHUP end a run at once until its erase begins; from then on "
        "the first one lets the download finish (a modem left half-written holds no working "
        "firmware) and a second Ctrl-C aborts at once. With --ports, --all-ports or --watch "
        "the first one lets every download in progress finish and writes its report line, "
        "then the program exits; a second Ctrl-C stops them all at once.\n"
        "Exit status: 0 download complete (on every port), 1 download failed (on any port), "
        "2 download file prompt cancelled (end of input), 64 usage error.",
        "korvan-download-cli"};
    CLI::Option* port =
        app.add_option("--port", options.port_device,
                       "Search only this serial device (both speeds) instead of COM1..COM9");
    port->type_name("DEVICE");
    app.add_option("--image", options.image_path,
                   "Download image to write; takes the place of ./modems.cfg and is still "
                   "validated (an invalid image leads to the download file prompt)")
        ->type_name("FILE");
    app.add_option("--trace", options.trace_path,
                   "Write every byte to and from the serial port, with times and packet "
                   "names, to this file; with --ports, --all-ports or --watch, one file per run "
                   "into this directory, named by port and start time in the report")
        ->type_name("FILE|DIR");
    CLI::Option* list =
        app.add_flag("--list-ports", options.list_ports,
                     "List the serial devices, their COM numbers and whether they are free, "
                     "then exit");
    app.add_flag("--json", options.json, "With --list-ports: the list as JSON")->needs(list);
    app.add_flag("--events", options.events,
                 "Report as JSON lines on standard output, one object per status message, "
                 "progress step, skipped port and outcome, each with its \"time\"; never "
                 "prompts (see README)");
    CLI::Option* ports =
        app.add_option("--ports", options.ports,
                       "Flash the modems on these devices or COM names at once, one download "
                       "per port")
            ->delimiter(',')
            ->type_name("DEV[,DEV...]")
            ->excludes(port);
    app.add_flag("--all-ports", options.all_ports,
                 "Flash the modems on every serial port found at once")
        ->excludes(port)
        ->excludes(ports);
    app.add_option("--report", options.report_path,
                   "Append one JSON object per port and run to this file")
        ->type_name("FILE");
    app.add_flag("--watch", options.watch,
                 "Station mode: flash each modem once when it appears on one of the ports and "
                 "wait for it to go away; Ctrl-C lets downloads in progress finish, then exits");
    // Internal: how the production line starts the download of one of its ports.
    app.add_option("--station-port", options.station_port)->group("")->needs(port);
    app.set_version_flag("--version", std::string("korvan-download-cli ") + KORVAN_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version exit with 0; a usage error must not look like a download outcome.
        exit_code = app.exit(error) == 0 ? 0 : EXIT_USAGE_ERROR;
        return std::nullopt;
    }
    if (ports->count() > 0 && has_empty_port_name(argc, argv)) {
        // An empty name would reach the child as no port at all, which searches every port.
        std::cerr << app.get_name() << ": --ports holds an empty name\n";
        exit_code = EXIT_USAGE_ERROR;
        return std::nullopt;
    }
    // A station passes --report on to the downloads it starts: each appends its own line.
    const bool may_report = options.is_production_line() || !options.station_port.empty();
    if ((options.watch && !options.is_production_line()) ||
        (!options.report_path.empty() && !may_report)) {
        std::cerr << app.get_name() << ": --watch and --report need --ports or --all-ports\n";
        exit_code = EXIT_USAGE_ERROR;
        return std::nullopt;
    }
    return options;
}
