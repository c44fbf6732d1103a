#pragma once

#include <iosfwd>
#include <optional>
#include <vector>

#include "port/port_filter.h"
#include "port/windows_com_ports.h"

// What --list-ports shows on Windows: one row per registered COM port.
struct WindowsPortRow {
    RegisteredComPort port;
    ComPortState state;
    std::optional<bool> kept;  // with --port-filter: whether a filter keeps the port
};

// Every registered port with its state now (each free one opened for a moment).
std::vector<WindowsPortRow> list_windows_ports();

// Aligned columns PORT NAME DRIVER USB LATENCY STATE (and FILTER with filters), or a JSON
// object {"ports": [...]}, each row marked by filters; filters that keep no port are said
// after the table (on err with JSON, which stays one object).
void write_windows_port_listing(std::ostream& out, std::ostream& err,
                                std::vector<WindowsPortRow> rows, bool json,
                                const std::vector<PortFilter>& filters);
