#include "tools/download_cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>

#include "tools/download_cli/printable_text.h"

namespace {

constexpr std::size_t HELP_OPTION_COLUMN = 26;
constexpr std::size_t HELP_TEXT_WIDTH = 80 - HELP_OPTION_COLUMN;

constexpr char USAGE[] =
    "Usage: korvan-download-cli [-p DEVICE] [--image FILE] [--trace FILE] [--events]\n"
    "       korvan-download-cli --identify [-p DEVICE | --ports DEV[,DEV...] | --all-ports]\n"
    "                           [--image FILE] [--json]\n"
    "       korvan-download-cli (--ports DEV[,DEV...] | --all-ports) [--image FILE]\n"
    "                           [--report FILE] [--watch] [--events]\n"
    "       korvan-download-cli --list-ports [--json]\n"
    "       korvan-download-cli --help | --version\n"
    "Each form that searches or lists ports also takes --port-filter\n"
    "vid=HEX[,pid=HEX][,serial=TEXT], once per filter.\n";

// One paragraph broken into lines of at most width characters at spaces.
std::string wrapped_paragraph(const std::string& text, std::size_t width) {
    std::istringstream words(text);
    std::string result;
    std::string line;
    std::string word;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            result += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return result + line;
}

// text (paragraphs ended by line feeds) broken into lines of at most width characters; by
// default for the help's second column, where CLI11 indents each line after the first.
std::string wrapped(const std::string& text, std::size_t width = HELP_TEXT_WIDTH) {
    std::istringstream paragraphs(text);
    std::string result;
    std::string paragraph;
    while (std::getline(paragraphs, paragraph)) {
        result += (result.empty() ? "" : "\n") + wrapped_paragraph(paragraph, width);
    }
    return result;
}

// Help without CLI11's "Excludes:" lists, which push each description onto a line of its
// own; the description says in words which options go together.
class HelpFormatter final : public CLI::Formatter {
  public:
    HelpFormatter() { column_width(HELP_OPTION_COLUMN); }
    std::string make_option_opts(const CLI::Option* option) const override {
        const std::string type = option->get_type_name();
        return option->get_type_size() != 0 && !type.empty() ? " " + type : "";
    }
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string) const override {
        return std::string(USAGE) + "\n" + wrapped(app->get_description(), 80) + "\n";
    }
    std::string make_footer(const CLI::App* app) const override {
        return wrapped(app->get_footer(), 80) + "\n";
    }
};

}  // namespace

int usage_error(const CliOptions& options, const std::string& message, std::ostream& err) {
    err << "korvan-download-cli: " << message << "\n";
    if (options.station_port.empty()) {
        err << USAGE;
    }
    return EXIT_USAGE_ERROR;
}

int usage_error(const CliOptions& options, const std::string& message) {
    return usage_error(options, message, std::cerr);
}

std::string no_port_matches_filter(const std::vector<PortFilter>& filters) {
    return printable(filters_keep_no_port(filters));
}

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
bool parse_port_filter_options(const std::vector<std::string>& texts,
                               std::vector<PortFilter>& filters, std::string& problem) {
    for (const std::string& text : texts) {
        std::string error;
        const std::optional<PortFilter> filter = parse_port_filter(text, error);
        if (!filter) {
            problem = "--port-filter " + printable(text) + ": " + error;
            return false;
        }
        filters.push_back(*filter);
    }
    return true;
}

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
        "then the program exits; a second Ctrl-C stops them all at once.",
        "korvan-download-cli"};
    app.formatter(std::make_shared<HelpFormatter>());
    app.footer(
        "-p/--port, --ports and --all-ports exclude one another. --watch and --report need "
        "--ports or --all-ports; --json needs --list-ports or --identify; --identify takes "
        "neither --events, --watch nor --report.\n"
        "Exit status: 0 download complete (on every port; with --identify: a modem answered "
        "and a valid image is known for it), 1 download failed (on any port; an image named "
        "by --image that is not valid; with --identify: no modem or no valid image), "
        "2 download file prompt cancelled (end of input), 64 usage error.");
    CLI::Option* port =
        app.add_option("-p,--port", options.port_device,
                       wrapped("Search only this serial device (both speeds) instead of "
                               "COM1..COM9; a COM name stands for its device"));
    port->type_name("DEVICE");
    app.add_option("--image", options.image_path,
                   wrapped("Download image to write; takes the place of ./modems.cfg. It is "
                           "validated before any port is opened: a missing or invalid image "
                           "ends the run with its message and exit status 1"))
        ->type_name("FILE");
    app.add_option("--trace", options.trace_path,
                   wrapped("Write every byte to and from the serial port, with times and "
                           "packet names, to this file; with --ports, --all-ports or --watch, "
                           "one file per run into this directory, named by port and start "
                           "time in the report"))
        ->type_name("FILE|DIR");
    CLI::Option* identify =
        app.add_flag("--identify", options.identify,
                     wrapped("Only ask the first modem that answers who it is (\"ATI3\") and "
                             "leave it as it was; print its port, line speed, identification, "
                             "the modems.cfg line that matches, the image that names and "
                             "whether it is valid. With --ports or --all-ports: each of those "
                             "ports"));
    CLI::Option* list =
        app.add_flag("--list-ports", options.list_ports,
                     wrapped("List the serial devices, their COM numbers and whether they are "
                             "free, then exit"));
    app.add_flag("--json", options.json,
                 wrapped("With --list-ports or --identify: the result as JSON"));
    CLI::Option* events =
        app.add_flag("--events", options.events,
                     wrapped("Report as JSON lines on standard output, one object per status "
                             "message, progress step, skipped port and outcome, each with its "
                             "\"time\"; never prompts (see README)"));
    CLI::Option* ports =
        app.add_option("--ports", options.ports,
                       wrapped("Flash the modems on these devices or COM names at once, one "
                               "download per port"))
            ->delimiter(',')
            ->type_name("DEV[,DEV...]")
            ->excludes(port);
    app.add_flag("--all-ports", options.all_ports,
                 wrapped("Flash the modems on every serial port found at once"))
        ->excludes(port)
        ->excludes(ports);
    CLI::Option* report = app.add_option("--report", options.report_path,
                                         wrapped("Append one JSON object per port and run to "
                                                 "this file"))
                              ->type_name("FILE");
    CLI::Option* watch =
        app.add_flag("--watch", options.watch,
                     wrapped("Station mode: flash each modem once when it appears on one of the "
                             "ports and wait for it to go away; Ctrl-C lets downloads in "
                             "progress finish, then exits"));
    std::vector<std::string> filter_texts;
    app.add_option("--port-filter", filter_texts,
                   wrapped("Use only ports whose USB adapter has this vendor id (and product "
                           "id and serial number, when given); ids in hex. Given again, a port "
                           "matching any of the filters is used. For the search, --all-ports, "
                           "--watch and --list-ports"))
        ->type_name("vid=HEX[,pid=HEX][,serial=TEXT]")
        ->allow_extra_args(false);
    identify->excludes(events)->excludes(report)->excludes(watch)->excludes(list);
    // Internal: how the production line starts the download of one of its ports.
    app.add_option("--station-port", options.station_port)->group("")->needs(port);
    app.set_version_flag("--version", std::string("korvan-download-cli ") + KORVAN_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        exit_code = app.exit(help);
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        exit_code = app.exit(version);
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        // A usage error must not look like a download outcome.
        exit_code = usage_error(CliOptions{}, error.what());
        return std::nullopt;
    }
    if (std::string problem;
        !parse_port_filter_options(filter_texts, options.port_filters, problem)) {
        exit_code = usage_error(options, problem);
        return std::nullopt;
    }
    if (ports->count() > 0 && has_empty_port_name(argc, argv)) {
        // An empty name would reach the child as no port at all, which searches every port.
        exit_code = usage_error(options, "--ports holds an empty name");
        return std::nullopt;
    }
    // A station passes --report on to the downloads it starts: each appends its own line.
    const bool may_report = options.is_production_line() || !options.station_port.empty();
    if ((options.watch && !options.is_production_line()) ||
        (!options.report_path.empty() && !may_report)) {
        exit_code = usage_error(options, "--watch and --report need --ports or --all-ports");
        return std::nullopt;
    }
    if (options.json && !options.list_ports && !options.identify) {
        exit_code = usage_error(options, "--json needs --list-ports or --identify");
        return std::nullopt;
    }
    return options;
}
