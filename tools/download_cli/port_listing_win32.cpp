#include "tools/download_cli/port_listing.h"
#include "tools/download_cli/windows_port_listing.h"

int list_serial_ports(std::ostream& out, bool json) {
    write_windows_port_listing(out, list_windows_ports(), json);
    return 0;
}
