#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "port/port_filter.h"
#include "station/station_settings.h"

// Exit status after a command line that cannot be used (as sysexits' EX_USAGE), the same as
// the other programs'.
inline constexpr int STATION_USAGE_ERROR = 64;

// The most ports a station window has tiles for: more than this in --ports is refused.
inline constexpr std::size_t STATION_MAX_TILES = 32;

// What korvan-station's command line asks for. The station always watches: each modem that
// appears on one of its ports is flashed once, and the port then waits for it to go.
struct StationOptions {
    std::vector<std::string> ports;        // devices or COM names; empty with all_ports
    bool all_ports = false;                // every port found, looked at again and again
    std::string image_path;                // empty: each download takes its image from modems.cfg
    std::string report_path;               // empty: no report file
    std::string trace_path;                // a directory for one trace file per run; empty: none
    std::vector<PortFilter> port_filters;  // only ports whose USB adapter matches one; empty: all
};

// Parses the command line before any window exists. Returns the options, or nothing when the
// program is to exit at once (help, version or a usage error) with exit_code set and the text
// written to out (help, version) or err (usage error). Without --ports every port is taken.
// More ports than tiles, one device named twice, a report that cannot take lines or a trace
// that is no directory is a usage error: found before any modem is touched.
std::optional<StationOptions> parse_station_options(int argc, char** argv, std::ostream& out,
                                                    std::ostream& err, int& exit_code);

// What the station runs with: the options, always watching (each modem that appears is
// flashed once), its downloads done by program (the console program beside the window).
StationSettings station_settings(const StationOptions& options, const std::string& program);
