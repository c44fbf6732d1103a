#pragma once

#include <iosfwd>
#include <vector>

#include "port/windows_com_ports.h"

// What --list-ports shows on Windows: one row per registered COM port.
struct WindowsPortRow {
    RegisteredComPort port;
    ComPortState state;
};

// Every registered port with its state now (each free one opened for a moment).
std::vector<WindowsPortRow> list_windows_ports();

// Aligned columns PORT NAME DRIVER USB LATENCY STATE, or a JSON object {"ports": [...]}.
void write_windows_port_listing(std::ostream& out, const std::vector<WindowsPortRow>& rows,
                                bool json);
