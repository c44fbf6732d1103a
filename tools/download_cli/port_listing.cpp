#include "tools/download_cli/port_listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "tools/download_cli/printable_text.h"
#include "tools/json_text/json_text.h"

namespace {

constexpr int HIGHEST_SEARCHED_COM = 9;
constexpr const char* MODEM_MANAGER = "ModemManager";
// Before ModemManager's own rules (77-mm-*, 80-mm-candidate), which read the variable.
constexpr const char* MODEM_MANAGER_RULES = "/etc/udev/rules.d/70-korvan-modem-manager.rules";

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

PortListingRow com_row(int number, const std::vector<SerialDeviceInfo>& devices,
                       const SystemRoots& roots) {
    PortListingRow row;
    row.com_number = number;
    if (const std::optional<std::string> mapped = com_port_setting(number)) {
        row.device = *mapped;
        row.set_by = "KORVAN_COM" + std::to_string(number);
        row.info = device_at(devices, *mapped);
    } else {
        row.info = com_port_device(devices, number);
        row.device = row.info ? row.info->path : std::string();
    }
    if (!row.device.empty()) {
        row.state = probe_port_state(row.device, roots);
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

PortListingRow passed_over_row(const SerialDeviceInfo& device, const std::string& reason,
                               const SystemRoots& roots) {
    PortListingRow row;
    row.not_searched = reason;
    row.device = device.path;
    row.info = device;
    // Neither the console nor a phantom is ever opened, not even to look.
    if (device.console) {
        row.state = PortState{PortUse::console, {}, {}};
    } else if (device.kind == SerialDeviceKind::phantom_uart) {
        row.state = PortState{PortUse::phantom, {}, {}};
    } else {
        row.state = probe_port_state(device.path, roots);
    }
    return row;
}

std::string port_column(const PortListingRow& row) {
    return row.com_number > 0 ? "COM" + std::to_string(row.com_number) : "not searched";
}

std::string kind_column(const PortListingRow& row) {
    if (row.info) {
        return describe_device_kind(*row.info);
    }
    return row.device.empty() ? "-" : "not a serial device the kernel lists";
}

std::string by_id_column(const PortListingRow& row) {
    if (!row.info || row.info->by_id.empty()) {
        return "-";
    }
    return std::filesystem::path(row.info->by_id).filename().string();
}

std::string state_column(const PortListingRow& row) {
    std::string text = row.state ? describe_port_state(*row.state) : "no device";
    if (row.not_searched == "beyond_com9") {
        text += "; COM" + std::to_string(row.info->com_number) +
                " is beyond the plain search of COM1..COM9: --port " + row.device +
                " or --all-ports reach it";
    } else if (row.not_searched == "replaced_by_environment") {
        text += "; COM" + std::to_string(row.info->com_number) + " is set by KORVAN_COM" +
                std::to_string(row.info->com_number);
    }
    if (!row.set_by.empty()) {
        text += " (set by " + row.set_by + ")";
    }
    return text;
}

bool is_hex_id(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

bool held_by_modem_manager(const PortListingRow& row) {
    return row.state &&
           std::any_of(row.state->holders.begin(), row.state->holders.end(),
                       [](const PortHolder& holder) { return holder.name == MODEM_MANAGER; });
}

// The udev rule that keeps ModemManager from probing the row's adapter; empty when
// ModemManager does not hold it or it is no USB device.
std::string modem_manager_rule(const PortListingRow& row) {
    if (!held_by_modem_manager(row) || !row.info || !is_hex_id(row.info->vendor_id) ||
        !is_hex_id(row.info->product_id)) {
        return {};
    }
    return "ATTRS{idVendor}==\"" + row.info->vendor_id + "\", ATTRS{idProduct}==\"" +
           row.info->product_id + "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
}

// ModemManager probes every new modem and holds its port while it does: say how to keep it
// away for good, once per kind of adapter.
void write_modem_manager_advice(std::ostream& out, const std::vector<PortListingRow>& rows) {
    std::vector<std::string> given;
    for (const PortListingRow& row : rows) {
        const std::string rule = modem_manager_rule(row);
        if (rule.empty() || std::find(given.begin(), given.end(), rule) != given.end()) {
            continue;
        }
        given.push_back(rule);
        out << "\nModemManager holds " << printable(row.device)
            << ". To keep it away from this adapter, put this line in " << MODEM_MANAGER_RULES
            << ":\n  " << rule << "\nthen run 'udevadm control --reload' as root and plug the "
            << "adapter in again.\n";
    }
}

void write_text(std::ostream& out, const std::vector<PortListingRow>& rows) {
    std::vector<std::array<std::string, 5>> table{{"PORT", "DEVICE", "KIND", "BY-ID", "STATE"}};
    for (const PortListingRow& row : rows) {
        table.push_back({port_column(row), printable(row.device.empty() ? "-" : row.device),
                         printable(kind_column(row)), printable(by_id_column(row)),
                         printable(state_column(row))});
    }
    std::array<std::size_t, 5> widths{};
    for (const auto& cells : table) {
        for (std::size_t column = 0; column < cells.size(); ++column) {
            widths[column] = std::max(widths[column], cells[column].size());
        }
    }
    for (const auto& cells : table) {
        std::string line;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            line += cells[column];
            if (column + 1 < cells.size()) {
                line += std::string(widths[column] - cells[column].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
    write_modem_manager_advice(out, rows);
}

std::string json_string(std::string_view text) {
    return json_line(json_text(text));
}

std::string json_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
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

std::string state_name(const PortListingRow& row) {
    return row.state ? port_use_name(row.state->use) : "no_device";
}

std::string json_holder(const PortHolder& holder) {
    return "{\"name\": " + json_string(holder.name) + ", \"pid\": " + std::to_string(holder.pid) +
           "}";
}

std::string json_row(const PortListingRow& row) {
    const SerialDeviceInfo info = row.info.value_or(SerialDeviceInfo{});
    std::string text =
        "{\"port\": " + (row.com_number > 0 ? json_string(port_column(row)) : std::string("null"));
    text += ", \"searched\": " + std::string(row.com_number > 0 ? "true" : "false");
    text += ", \"not_searched_because\": " + json_or_null(row.not_searched);
    text += ", \"device\": " + json_or_null(row.device);
    text += ", \"set_by\": " + json_or_null(row.set_by);
    text += ", \"name\": " + json_or_null(info.name);
    text += ", \"kind\": " + (row.info ? json_string(kind_name(info.kind)) : "null");
    text += ", \"description\": " + (row.info ? json_string(kind_column(row)) : "null");
    text += ", \"driver\": " + json_or_null(info.driver);
    text += ", \"vendor_id\": " + json_or_null(info.vendor_id);
    text += ", \"product_id\": " + json_or_null(info.product_id);
    text += ", \"manufacturer\": " + json_or_null(info.manufacturer);
    text += ", \"product\": " + json_or_null(info.product);
    text += ", \"serial\": " + json_or_null(info.serial_number);
    text += ", \"by_id\": " + json_or_null(info.by_id);
    text += ", \"state\": " + json_string(state_name(row));
    text += ", \"state_text\": " + json_string(state_column(row));
    const std::vector<PortHolder> holders =
        row.state ? row.state->holders : std::vector<PortHolder>{};
    text += ", \"holder\": " + (holders.empty() ? std::string("null") : json_holder(holders[0]));
    text += ", \"holders\": [";
    for (std::size_t index = 0; index < holders.size(); ++index) {
        text += (index == 0 ? "" : ", ") + json_holder(holders[index]);
    }
    text += "]";
    text += ", \"udev_rule\": " + json_or_null(modem_manager_rule(row));
    text += ", \"group\": " + json_or_null(row.state ? row.state->group : std::string());
    return text + "}";
}

void write_json(std::ostream& out, const std::vector<PortListingRow>& rows) {
    out << "{\"ports\": [";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        out << (index == 0 ? "\n  " : ",\n  ") << json_row(rows[index]);
    }
    out << "\n]}\n";
}

}  // namespace

std::vector<PortListingRow> list_ports(const SystemRoots& roots) {
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
            rows.push_back(passed_over_row(device, reason_not_searched(device), roots));
        }
    }
    return rows;
}

void write_port_listing(std::ostream& out, const std::vector<PortListingRow>& rows, bool json) {
    if (json) {
        write_json(out, rows);
    } else {
        write_text(out, rows);
    }
}
