#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "port/linux_port_map.h"
#include "port/linux_port_state.h"

// What --list-ports shows: one row per COM number 1..9, then one per serial device the
// search passes over, with the reason.
struct PortListingRow {
    int com_number = 0;        // 1..9; 0 for a device that is not searched
    std::string not_searched;  // why not: console, phantom, beyond_com9, replaced_by_environment
    std::string device;        // the path opened, empty when COMn has no device
    std::string set_by;        // KORVAN_COM<n> when the environment names the device
    std::optional<SerialDeviceInfo> info;  // what sysfs says of the device
    std::optional<PortState> state;        // empty when there is nothing to look at
};

std::vector<PortListingRow> list_ports(const SystemRoots& roots);

// Aligned columns PORT DEVICE KIND BY-ID STATE, or a JSON object {"ports": [...]}.
void write_port_listing(std::ostream& out, const std::vector<PortListingRow>& rows, bool json);

// Writes one row per serial device and per COM number (aligned text, or JSON for scripts)
// and returns the program's exit status. One implementation per platform
// (port_listing_posix.cpp, port_listing_win32.cpp).
int list_serial_ports(std::ostream& out, bool json);
