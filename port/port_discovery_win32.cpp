#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "port/port_discovery.h"
#include "port/windows_com_ports.h"

namespace {

std::string upper_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

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

std::string searched_port_device(const PortTableEntry& port) {
    if (!port.device.empty()) {
        return port.device;
    }
    const std::string name = "COM" + std::to_string(port.index + 1);
    return device_is_present(name) ? "\\\\.\\" + name : std::string();
}

std::string describe_refused_port(const PortTableEntry& port, PortStatus status) {
    const std::string device = searched_port_device(port);
    const std::string label =
        device.empty() || device == port.name ? port.name : port.name + " (" + device + ")";
    if (status == PORT_E_IN_USE) {
        return label + ": in use by another program";
    }
    if (status == PORT_E_NO_PORT) {
        return label + ": no such device";
    }
    return label + ": cannot be opened (error " + std::to_string(status) + ")";
}

std::string describe_busy_device(const std::string&) {
    return "in use by another program";
}

std::vector<SerialPortName> find_serial_ports(std::vector<std::string>&) {
    // The ports Windows has registered are the ones that exist: COM1..COM9 and beyond.
    std::vector<SerialPortName> found;
    for (const RegisteredComPort& port : registered_com_ports()) {
        found.push_back({port.name, port.name});
    }
    return found;
}

std::string device_for_port(const std::string& port) {
    return upper_case(port);
}

std::string device_identity(const std::string& device) {
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    return name;
}

bool device_is_present(const std::string& device) {
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    char target[1024];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}
