#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "port/port_filter.h"

// Exit status after a command line that cannot be parsed (as sysexits' EX_USAGE).
inline constexpr int EXIT_USAGE_ERROR = 64;

// What the command line asks for beyond the plain run.
struct CliOptions {
    std::string port_device;  // empty: search every COM port
    std::string image_path;   // empty: modems.cfg or the download file prompt decide
    std::string trace_path;   // empty: no trace of the serial line
    bool list_ports = false;  // list the serial devices instead of running a download
    bool json = false;        // the list, or the identification, as JSON
    bool identify = false;    // only ask the modem who it is, change nothing
    bool events = false;      // JSON lines on standard output instead of text

    // The production line: one download per port, each in a child process.
    std::vector<std::string> ports;  // devices or COM names
    bool all_ports = false;          // every port the port mapping finds
    std::string report_path;         // empty: no report file
    bool watch = false;              // flash every modem that appears, until interrupted
    // Only ports whose USB adapter matches one of these are searched, listed as kept or
    // flashed; none: every port.
    std::vector<PortFilter> port_filters;

    // A download the production line started for one of its ports: the port as the user
    // named it. Such a run leaves interrupts to the line and appends its own report line.
    std::string station_port;

    bool is_production_line() const { return !ports.empty() || all_ports; }
};

// The texts given to --port-filter as filters, in order; false at the first that is none,
// with "--port-filter TEXT: why" (TEXT escaped) in problem. Shared by every program that
// takes the option.
bool parse_port_filter_options(const std::vector<std::string>& texts,
                               std::vector<PortFilter>& filters, std::string& problem);

// What every mode says when --port-filter keeps none of the ports it looked at.
std::string no_port_matches_filter(const std::vector<PortFilter>& filters);

// Parses the command line. Returns the options, or nothing when the program is to exit at
// once (help, version or a usage error) with exit_code set and the text already printed.
std::optional<CliOptions> parse_cli_options(int argc, char** argv, int& exit_code);

// Says message on err (standard error by default) after the program's name, then the usage,
// and returns EXIT_USAGE_ERROR. A download the production line started leaves the usage out:
// its error output becomes a note on the line's display.
int usage_error(const CliOptions& options, const std::string& message);
int usage_error(const CliOptions& options, const std::string& message, std::ostream& err);
