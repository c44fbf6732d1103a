#include <iostream>

#include "tools/download_cli/port_listing.h"
#include "tools/download_cli/windows_port_listing.h"

int list_serial_ports(std::ostream& out, bool json, const std::vector<PortFilter>& filters) {
    write_windows_port_listing(out, std::cerr, list_windows_ports(), json, filters);
    return 0;
}
