#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port/linux_port_state.h"
#include "port/serial_device_posix.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/port_listing.h"

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal() {
    return isatty(STDIN_FILENO) == 1;
}

void wait_briefly_for_input() {
    // Nothing to watch: standard input may sit at end of file (always readable), and the
    // port's descriptor is private to the serial layer. A plain 1 ms poll bounds the wait.
    poll(nullptr, 0, 1);
}

std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error) {
    // The POSIX serial layer opens COMn as the path in KORVAN_COM<n>: COM1 becomes device.
    if (setenv("KORVAN_COM1", device.c_str(), 1) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return PortTableEntry{0, "COM1"};
}

std::string describe_refused_port(int index, PortStatus status) {
    const std::string path = serial_device_path(index);
    const std::string port = "COM" + std::to_string(index + 1) + " (" + path + "): ";
    if (status == PORT_E_IN_USE) {
        return port + describe_port_state(diagnose_refused_open(path, system_roots()));
    }
    return port + "cannot be opened (error " + std::to_string(status) + ")";
}

int list_serial_ports(std::ostream& out, bool json) {
    write_port_listing(out, list_ports(system_roots()), json);
    return 0;
}
