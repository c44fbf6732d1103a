#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>

#include "port/linux_port_map.h"
#include "port/linux_port_state.h"
#include "port/port_discovery.h"
#include "port/serial_device_posix.h"

namespace {

constexpr int HIGHEST_SEARCHED_COM = 9;
constexpr int HIGHEST_COM_NUMBER = 256;

// A COM name COM1..COM256 as its 0-based index; -1 for anything else.
int com_index(const std::string& port) {
    if (port.size() < 4 || port.size() > 6 || port.compare(0, 3, "COM") != 0 || port[3] == '0') {
        return -1;
    }
    int number = 0;
    for (std::size_t at = 3; at < port.size(); ++at) {
        if (port[at] < '0' || port[at] > '9') {
            return -1;
        }
        number = number * 10 + (port[at] - '0');
    }
    return number <= HIGHEST_COM_NUMBER ? number - 1 : -1;
}

// What the serial layer opens for COM<number>, from one scan of the machine's devices.
std::string mapped_device(const std::vector<SerialDeviceInfo>& devices, int number) {
    if (std::optional<std::string> mapped = com_port_setting(number)) {
        return *mapped;
    }
    const std::optional<SerialDeviceInfo> device = com_port_device(devices, number);
    return device ? device->path : std::string();
}

}  // namespace

std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string&) {
    // A COM name stands for the device the serial layer maps it to; anything else is a path.
    if (const int index = com_index(device); index >= 0) {
        return PortTableEntry{index, device};
    }
    return PortTableEntry{0, device, device};
}

std::string searched_port_device(const PortTableEntry& port) {
    return port.device.empty() ? serial_device_path(port.index) : port.device;
}

std::string describe_refused_port(const PortTableEntry& port, PortStatus status) {
    const std::string path = searched_port_device(port);
    if (path.empty()) {
        return port.name + ": no device";
    }
    const std::string label = (port.name == path ? path : port.name + " (" + path + ")") + ": ";
    if (status == PORT_E_IN_USE) {
        return label + describe_port_state(diagnose_refused_open(path, system_roots()));
    }
    if (status == PORT_E_NO_PORT) {
        // The serial layer refuses a UART line with no hardware behind it as missing too.
        const std::optional<TtyIdentity> tty = identify_tty(path, system_roots());
        PortState state;
        state.use = tty && tty->phantom ? PortUse::phantom : PortUse::missing;
        return label + describe_port_state(state);
    }
    return label + "cannot be opened (error " + std::to_string(status) + ")";
}

std::string describe_busy_device(const std::string& device) {
    return describe_port_state(diagnose_refused_open(device, system_roots()));
}

std::vector<SerialPortName> find_serial_ports(std::vector<std::string>& left_out) {
    std::vector<SerialPortName> found;
    const std::vector<SerialDeviceInfo> devices = scan_serial_devices(system_roots());
    int highest = HIGHEST_SEARCHED_COM;
    for (const SerialDeviceInfo& device : devices) {
        highest = std::max(highest, device.com_number);
    }
    for (int number = 1; number <= highest; ++number) {
        const std::string device = mapped_device(devices, number);
        if (device_is_present(device)) {
            found.push_back({"COM" + std::to_string(number), device});
        }
    }
    // A device whose number the environment gave to another path is not reached by any
    // COM name.
    for (const SerialDeviceInfo& device : devices) {
        const bool reached =
            std::any_of(found.begin(), found.end(), [&](const SerialPortName& port) {
                return device_identity(port.device) == device_identity(device.path);
            });
        if (device.com_number > 0 && !reached && device_is_present(device.path)) {
            left_out.push_back(device.path + ": its number COM" +
                               std::to_string(device.com_number) + " is set by KORVAN_COM" +
                               std::to_string(device.com_number));
        }
    }
    return found;
}

std::string device_for_port(const std::string& port) {
    const int index = com_index(port);
    return index < 0 ? port : serial_device_path(index);
}

std::string device_identity(const std::string& device) {
    struct stat node {};
    if (device.empty() || stat(device.c_str(), &node) != 0) {
        return "name:" + device;
    }
    if (S_ISCHR(node.st_mode)) {
        return "char:" + std::to_string(major(node.st_rdev)) + ":" +
               std::to_string(minor(node.st_rdev));
    }
    return "file:" + std::to_string(node.st_dev) + ":" + std::to_string(node.st_ino);
}

// As root, a link is followed only into a file its own owner owns (or when root made the
// link): otherwise any user who may write the directory could point it at /etc/shadow and
// have the run overwrite it. The link's owner stands for the user, as with the kernel's
// protected_symlinks.
bool device_is_present(const std::string& device) {
    struct stat info {};
    return !device.empty() && stat(device.c_str(), &info) == 0;
}
