#include "port/linux_port_map.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "port/directory_entries.h"

namespace fs = std::filesystem;

namespace {

// Serial-core port types with the names the kernel itself prints for them.
constexpr const char* uart_type_names[] = {
    "unknown", "8250",  "16450",    "16550",  "16550A", "Cirrus", "16650",
    "16650V2", "16750", "Startech", "16C950", "16654",  "16850",  "RSA",
};
constexpr int PORT_UNKNOWN = 0;
constexpr int FIRST_SHARED_COM_NUMBER = 3;  // COM1 and COM2 belong to the onboard UARTs
// How far above a tty's device the USB device with its identity may sit (interface, port).
constexpr int USB_DEVICE_SEARCH_DEPTH = 4;

std::string first_line_of(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

bool exists_or_link(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::string link_target_name(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// Compares runs of digits by value, so ttyS2 comes before ttyS10 and usb-0:2 before usb-0:10.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t end_a = i;
            std::size_t end_b = j;
            while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a]))) {
                ++end_a;
            }
            while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b]))) {
                ++end_b;
            }
            const std::string run_a = a.substr(i, end_a - i);
            const std::string run_b = b.substr(j, end_b - j);
            const std::size_t width = std::max(run_a.size(), run_b.size());
            const std::string padded_a = std::string(width - run_a.size(), '0') + run_a;
            const std::string padded_b = std::string(width - run_b.size(), '0') + run_b;
            if (padded_a != padded_b) {
                return padded_a < padded_b;
            }
            i = end_a;
            j = end_b;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// Name of the device each link in a /dev/serial directory leads to, mapped to the link.
std::vector<std::pair<std::string, std::string>> serial_links(const fs::path& directory) {
    std::vector<std::pair<std::string, std::string>> links;
    for_each_directory_entry(directory, [&links](const fs::directory_entry& entry) {
        links.emplace_back(link_target_name(entry.path()), entry.path().string());
    });
    return links;
}

std::string link_for(const std::vector<std::pair<std::string, std::string>>& links,
                     const std::string& name) {
    for (const auto& [target, link] : links) {
        if (target == name) {
            return link;
        }
    }
    return {};
}

void read_usb_identity(const fs::path& device_path, SerialDeviceInfo& info) {
    fs::path candidate = device_path;
    for (int level = 0; level < USB_DEVICE_SEARCH_DEPTH && !candidate.empty(); ++level) {
        if (std::error_code error; fs::exists(candidate / "idVendor", error)) {
            info.vendor_id = first_line_of(candidate / "idVendor");
            info.product_id = first_line_of(candidate / "idProduct");
            info.manufacturer = first_line_of(candidate / "manufacturer");
            info.product = first_line_of(candidate / "product");
            info.serial_number = first_line_of(candidate / "serial");
            return;
        }
        candidate = candidate.parent_path();
    }
}

bool is_console(const fs::path& tty_directory, const std::string& name,
                const std::vector<std::string>& consoles) {
    return std::find(consoles.begin(), consoles.end(), name) != consoles.end() ||
           first_line_of(tty_directory / "console") == "Y";
}

int uart_type_of(const fs::path& tty_directory) {
    const fs::path type_file = tty_directory / "type";
    if (std::error_code error; !fs::exists(type_file, error)) {
        return -1;
    }
    const std::string text = first_line_of(type_file);
    char* end = nullptr;
    const long type = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() ? static_cast<int>(type) : -1;
}

SerialDeviceKind kind_of(const SerialDeviceInfo& info) {
    if (info.uart_type == PORT_UNKNOWN) {
        return SerialDeviceKind::phantom_uart;
    }
    if (info.uart_type > PORT_UNKNOWN) {
        return SerialDeviceKind::uart;
    }
    if (info.driver == "cdc_acm" || info.name.rfind("ttyACM", 0) == 0) {
        return SerialDeviceKind::acm;
    }
    return info.vendor_id.empty() ? SerialDeviceKind::other : SerialDeviceKind::usb;
}

std::optional<SerialDeviceInfo> read_device(const SystemRoots& roots, const std::string& name,
                                            const std::vector<std::string>& consoles) {
    const fs::path directory = fs::path(roots.sysfs) / "class/tty" / name;
    const fs::path device_link = directory / "device";
    if (!exists_or_link(device_link)) {
        return std::nullopt;  // a virtual terminal, a pseudo-terminal master, ...
    }
    SerialDeviceInfo info;
    info.name = name;
    info.path = (fs::path(roots.dev) / name).string();
    info.uart_type = uart_type_of(directory);
    info.driver = link_target_name(device_link / "driver");
    std::error_code error;
    const fs::path device_path = fs::canonical(device_link, error);
    if (!error) {
        info.physical_order = device_path.string();
        read_usb_identity(device_path, info);
    }
    info.kind = kind_of(info);
    info.console = is_console(directory, name, consoles);
    return info;
}

bool is_onboard_uart_name(const std::string& name) {
    return name.rfind("ttyS", 0) == 0;
}

bool searchable(const SerialDeviceInfo& device) {
    return device.kind != SerialDeviceKind::phantom_uart && !device.console;
}

int lowest_free_number(const std::set<int>& taken, int from) {
    int number = from;
    while (taken.count(number) != 0) {
        ++number;
    }
    return number;
}

void number_devices(std::vector<SerialDeviceInfo>& devices) {
    std::set<int> taken;
    auto give = [&taken](SerialDeviceInfo& device, int number) {
        device.com_number = number;
        taken.insert(number);
    };
    for (SerialDeviceInfo& device : devices) {
        if (searchable(device) && device.kind == SerialDeviceKind::uart &&
            (device.name == "ttyS0" || device.name == "ttyS1")) {
            give(device, device.name == "ttyS0" ? 1 : 2);
        }
    }
    for (SerialDeviceInfo& device : devices) {
        if (searchable(device) && !is_onboard_uart_name(device.name)) {
            give(device, lowest_free_number(taken, FIRST_SHARED_COM_NUMBER));
        }
    }
    for (SerialDeviceInfo& device : devices) {
        if (searchable(device) && device.com_number == 0) {
            give(device, lowest_free_number(taken, 1));
        }
    }
}

// Onboard UARTs first in line order, then everything else in physical order.
bool listing_order(const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
    const bool a_onboard = is_onboard_uart_name(a.name);
    const bool b_onboard = is_onboard_uart_name(b.name);
    if (a_onboard != b_onboard) {
        return a_onboard;
    }
    if (a_onboard) {
        return natural_less(a.name, b.name);
    }
    return natural_less(a.physical_order, b.physical_order);
}

}  // namespace

std::optional<std::string> com_port_setting(int number) {
    const char* mapped = std::getenv(("KORVAN_COM" + std::to_string(number)).c_str());
    return mapped != nullptr ? std::optional<std::string>(mapped) : std::nullopt;
}

SystemRoots system_roots() {
    SystemRoots roots;
    if (const char* root = std::getenv("KORVAN_SYSTEM_ROOT"); root != nullptr && *root != '\0') {
        roots.sysfs = std::string(root) + "/sys";
        roots.dev = std::string(root) + "/dev";
        roots.proc = std::string(root) + "/proc";
    }
    return roots;
}

std::vector<std::string> kernel_console_names(const SystemRoots& roots) {
    std::vector<std::string> names;
    std::istringstream active(first_line_of(fs::path(roots.sysfs) / "class/tty/console/active"));
    for (std::string name; active >> name;) {
        names.push_back(name);
    }
    std::ifstream consoles(fs::path(roots.proc) / "consoles");
    for (std::string line; std::getline(consoles, line);) {
        std::istringstream fields(line);
        if (std::string name; fields >> name) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<SerialDeviceInfo> scan_serial_devices(const SystemRoots& roots) {
    const std::vector<std::string> consoles = kernel_console_names(roots);
    const auto by_id = serial_links(fs::path(roots.dev) / "serial/by-id");
    const auto by_path = serial_links(fs::path(roots.dev) / "serial/by-path");
    std::vector<SerialDeviceInfo> devices;
    for_each_directory_entry(
        fs::path(roots.sysfs) / "class/tty", [&](const fs::directory_entry& entry) {
            std::optional<SerialDeviceInfo> device =
                read_device(roots, entry.path().filename().string(), consoles);
            if (!device) {
                return;
            }
            device->by_id = link_for(by_id, device->name);
            if (const std::string link = link_for(by_path, device->name); !link.empty()) {
                device->physical_order = fs::path(link).filename().string();
            }
            devices.push_back(*device);
        });
    std::sort(devices.begin(), devices.end(), listing_order);
    number_devices(devices);
    return devices;
}

std::optional<SerialDeviceInfo> com_port_device(const std::vector<SerialDeviceInfo>& devices,
                                                int number) {
    for (const SerialDeviceInfo& device : devices) {
        if (device.com_number == number) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<TtyIdentity> identify_tty(const std::string& path, const SystemRoots& roots) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return std::nullopt;
    }
    const fs::path entry =
        fs::path(roots.sysfs) / "dev/char" /
        (std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev)));
    std::error_code error;
    const fs::path directory = fs::canonical(entry, error);
    if (error) {
        return std::nullopt;
    }
    TtyIdentity identity;
    identity.name = directory.filename().string();
    identity.phantom = uart_type_of(directory) == PORT_UNKNOWN;
    identity.console = is_console(directory, identity.name, kernel_console_names(roots));
    return identity;
}

std::string describe_device_kind(const SerialDeviceInfo& device) {
    std::string usb_identity = device.vendor_id + ":" + device.product_id;
    for (const std::string* text : {&device.manufacturer, &device.product}) {
        if (!text->empty()) {
            usb_identity += " \"" + *text + "\"";
        }
    }
    if (!device.serial_number.empty()) {
        usb_identity += " serial " + device.serial_number;
    }
    switch (device.kind) {
        case SerialDeviceKind::uart: {
            const int count = static_cast<int>(std::size(uart_type_names));
            return device.uart_type < count
                       ? std::string(uart_type_names[device.uart_type]) + " UART"
                       : "UART (type " + std::to_string(device.uart_type) + ")";
        }
        case SerialDeviceKind::phantom_uart:
            return "UART with no hardware behind it";
        case SerialDeviceKind::usb:
            return "USB " + device.driver + " " + usb_identity;
        case SerialDeviceKind::acm:
            return "ACM " + usb_identity;
        case SerialDeviceKind::other:
            break;
    }
    return device.driver.empty() ? "serial device" : "serial device (" + device.driver + ")";
}
