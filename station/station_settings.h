#pragma once

#include <string>
#include <vector>

#include "port/port_filter.h"

// What a station runs: which ports, how, and with which files.
struct StationSettings {
    // As the user named them (COM3, /dev/ttyUSB0); empty with all_ports.
    std::vector<std::string> ports;
    // Every port the machine has; in watch mode looked for again and again.
    bool all_ports = false;
    // Flash each modem that appears, until stopped; else one download per port.
    bool watch = false;
    std::string image_path;   // empty: modems.cfg decides in each download
    std::string report_path;  // empty: no report
    std::string trace_path;   // a folder getting one trace file per run; empty: no traces
    // The korvan-download-cli the station starts per download.
    std::string program_path;
    // Only ports whose USB adapter matches one of these are flashed; none: every port.
    std::vector<PortFilter> port_filters;
};
