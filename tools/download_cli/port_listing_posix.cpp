// The rows of --list-ports on Linux: the devices sysfs lists, numbered as the search numbers
// them, each with its state as far as /proc and a short open can tell.
#include <filesystem>
#include <iostream>

#include "port/linux_port_map.h"
#include "port/linux_port_state.h"
#include "tools/download_cli/port_listing.h"

namespace {

constexpr int HIGHEST_SEARCHED_COM = 9;

std::optional<SerialDeviceInfo> device_at(const std::vector<SerialDeviceInfo>& devices,
                                          const std::string& path) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(path, error);
    for (const SerialDeviceInfo& device : devices) {
        std::error_code device_error;
        if (device.path == path ||
            (!error && std::filesystem::weakly_canonical(device.path, device_error) == wanted)) {
            return device;
        }
    }
    return std::nullopt;
}

std::string kind_name(SerialDeviceKind kind) {
    switch (kind) {
        case SerialDeviceKind::uart:
            return "uart";
        case SerialDeviceKind::phantom_uart:
            return "phantom";
        case SerialDeviceKind::usb:
            return "usb";
        case SerialDeviceKind::acm:
            return "acm";
        case SerialDeviceKind::other:
            break;
    }
    return "other";
}

void describe_device(PortListingRow& row, const SerialDeviceInfo& info) {
    row.listed = true;
    row.device_com_number = info.com_number;
    row.name = info.name;
    row.kind = kind_name(info.kind);
    row.description = describe_device_kind(info);
    row.driver = info.driver;
    row.manufacturer = info.manufacturer;
    row.product = info.product;
    row.adapter = adapter_identity_of(info);
    row.by_id_path = info.by_id;
}

void set_state(PortListingRow& row, const PortState& state) {
    row.state = port_use_name(state.use);
    row.state_text = describe_port_state(state);
    for (const PortHolder& holder : state.holders) {
        row.holders.push_back({holder.name, holder.pid});
    }
    row.group = state.group;
}

PortListingRow com_row(int number, const std::vector<SerialDeviceInfo>& devices,
                       const SystemRoots& roots) {
    PortListingRow row;
    row.com_number = number;
    std::optional<SerialDeviceInfo> info;
    if (const std::optional<std::string> mapped = com_port_setting(number)) {
        row.device = *mapped;
        row.set_by = "KORVAN_COM" + std::to_string(number);
        info = device_at(devices, *mapped);
    } else {
        info = com_port_device(devices, number);
        row.device = info ? info->path : std::string();
    }
    if (info) {
        describe_device(row, *info);
    }
    if (!row.device.empty()) {
        set_state(row, probe_port_state(row.device, roots));
    }
    return row;
}

std::string reason_not_searched(const SerialDeviceInfo& device) {
    if (device.console) {
        return port_use_name(PortUse::console);
    }
    if (device.kind == SerialDeviceKind::phantom_uart) {
        return port_use_name(PortUse::phantom);
    }
    if (device.com_number > HIGHEST_SEARCHED_COM) {
        return "beyond_com9";
    }
    return com_port_setting(device.com_number) ? "replaced_by_environment" : "";
}

PortListingRow passed_over_row(const SerialDeviceInfo& device, const SystemRoots& roots) {
    PortListingRow row;
    row.not_searched = reason_not_searched(device);
    row.device = device.path;
    describe_device(row, device);
    // Neither the console nor a phantom is ever opened, not even to look.
    if (device.console) {
        set_state(row, PortState{PortUse::console, {}, {}});
    } else if (device.kind == SerialDeviceKind::phantom_uart) {
        set_state(row, PortState{PortUse::phantom, {}, {}});
    } else {
        set_state(row, probe_port_state(device.path, roots));
    }
    return row;
}

}  // namespace

std::vector<PortListingRow> gather_port_rows() {
    const SystemRoots roots = system_roots();
    const std::vector<SerialDeviceInfo> devices = scan_serial_devices(roots);
    std::vector<PortListingRow> rows;
    for (int number = 1; number <= HIGHEST_SEARCHED_COM; ++number) {
        rows.push_back(com_row(number, devices, roots));
    }
    for (const SerialDeviceInfo& device : devices) {
        const bool searched_as_listed = device.com_number >= 1 &&
                                        device.com_number <= HIGHEST_SEARCHED_COM &&
                                        !com_port_setting(device.com_number);
        if (!searched_as_listed) {
            rows.push_back(passed_over_row(device, roots));
        }
    }
    return rows;
}

int list_serial_ports(std::ostream& out, bool json, const std::vector<PortFilter>& filters) {
    write_filtered_port_listing(out, std::cerr, gather_port_rows(), json, filters);
    return 0;
}
