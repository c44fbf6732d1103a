#include <ostream>

#include "tools/download_cli/port_listing.h"

int list_serial_ports(std::ostream& out, bool) {
    // Windows numbers its ports itself; the Device Manager lists them.
    out << "--list-ports is available on Linux; on Windows see the Device Manager, "
           "Ports (COM & LPT)\n";
    return 1;
}
