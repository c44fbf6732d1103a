#include <windows.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>

#include "tools/download_cli/console_platform.h"

namespace {

// A console window, not a pipe or a file (the C runtime's isatty also says yes to NUL).
bool is_console(DWORD standard_handle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standard_handle), &mode) != FALSE;
}

std::string upper_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

bool stdout_is_terminal() {
    return is_console(STD_OUTPUT_HANDLE);
}

bool stdin_is_terminal() {
    return is_console(STD_INPUT_HANDLE);
}

void wait_briefly_for_input() {
    Sleep(1);
}

std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error) {
    // Windows names its serial devices itself and the serial layer opens \\.\COMn as it
    // is, so the device must be one of those names: COMn or \\.\COMn.
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    if (name.size() > 3 && name.size() <= 6 && name.rfind("COM", 0) == 0 &&
        std::all_of(name.begin() + 3, name.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; })) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1 && number <= 256) {
            return PortTableEntry{number - 1, "COM" + std::to_string(number)};
        }
    }
    error = "expected a serial port name COM1 to COM256";
    return std::nullopt;
}

std::string describe_refused_port(int index, PortStatus status) {
    const std::string port = "COM" + std::to_string(index + 1) + ": ";
    if (status == PORT_E_IN_USE) {
        return port + "in use by another program";
    }
    return port + "cannot be opened (error " + std::to_string(status) + ")";
}

int list_serial_ports(std::ostream& out, bool) {
    // Windows numbers its ports itself; the Device Manager lists them.
    out << "--list-ports is available on Linux; on Windows see the Device Manager, "
           "Ports (COM & LPT)\n";
    return 1;
}
