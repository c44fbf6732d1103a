#include "tools/download_cli/port_listing.h"

int list_serial_ports(std::ostream& out, bool json) {
    write_port_listing(out, list_ports(system_roots()), json);
    return 0;
}
