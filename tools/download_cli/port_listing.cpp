#include "tools/download_cli/port_listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ostream>

#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/text_table.h"
#include "tools/json_text/json_text.h"

namespace {

constexpr const char* MODEM_MANAGER = "ModemManager";
// Before ModemManager's own rules (77-mm-*, 80-mm-candidate), which read the variable.
constexpr const char* MODEM_MANAGER_RULES = "/etc/udev/rules.d/70-korvan-modem-manager.rules";
constexpr const char* NO_DEVICE_STATE = "no_device";

std::string port_column(const PortListingRow& row) {
    return row.com_number > 0 ? "COM" + std::to_string(row.com_number) : "not searched";
}

std::string kind_column(const PortListingRow& row) {
    if (row.listed) {
        return row.description;
    }
    return row.device.empty() ? "-" : "not a serial device the system lists";
}

std::string by_id_column(const PortListingRow& row) {
    return row.adapter.by_id.empty() ? "-" : row.adapter.by_id;
}

std::string state_column(const PortListingRow& row) {
    std::string text = row.state.empty() ? "no device" : row.state_text;
    const std::string number = std::to_string(row.device_com_number);
    if (row.not_searched == "beyond_com9") {
        text += "; COM" + number + " is beyond the plain search of COM1..COM9: --port " +
                row.device + " or --all-ports reach it";
    } else if (row.not_searched == "replaced_by_environment") {
        text += "; COM" + number + " is set by KORVAN_COM" + number;
    }
    if (!row.set_by.empty()) {
        text += " (set by " + row.set_by + ")";
    }
    return text;
}

std::string filter_column(const PortListingRow& row) {
    return row.kept.value_or(false) ? "kept" : "left out";
}

bool is_hex_id(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

bool held_by_modem_manager(const PortListingRow& row) {
    return std::any_of(row.holders.begin(), row.holders.end(), [](const PortListingHolder& holder) {
        return holder.name == MODEM_MANAGER;
    });
}

// The udev rule that keeps ModemManager from probing the row's adapter; empty when
// ModemManager does not hold it or it is no USB device.
std::string modem_manager_rule(const PortListingRow& row) {
    if (!held_by_modem_manager(row) || !is_hex_id(row.adapter.vendor_id) ||
        !is_hex_id(row.adapter.product_id)) {
        return {};
    }
    return "ATTRS{idVendor}==\"" + row.adapter.vendor_id + "\", ATTRS{idProduct}==\"" +
           row.adapter.product_id + "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
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

bool rows_marked(const std::vector<PortListingRow>& rows) {
    return std::any_of(rows.begin(), rows.end(),
                       [](const PortListingRow& row) { return row.kept.has_value(); });
}

void write_text(std::ostream& out, const std::vector<PortListingRow>& rows) {
    const bool marked = rows_marked(rows);
    std::vector<std::vector<std::string>> table{{"PORT", "DEVICE", "KIND", "BY-ID", "STATE"}};
    if (marked) {
        table.front().insert(table.front().begin() + 1, "FILTER");
    }
    for (const PortListingRow& row : rows) {
        std::vector<std::string> cells{port_column(row),
                                       printable(row.device.empty() ? "-" : row.device),
                                       printable(kind_column(row)), printable(by_id_column(row)),
                                       printable(state_column(row))};
        if (marked) {
            cells.insert(cells.begin() + 1, filter_column(row));
        }
        table.push_back(cells);
    }
    write_aligned_table(out, table);
    write_modem_manager_advice(out, rows);
}

using Json = nlohmann::ordered_json;

Json json_holder(const PortListingHolder& holder) {
    Json object;
    object["name"] = json_text(holder.name);
    object["pid"] = holder.pid;
    return object;
}

Json json_row(const PortListingRow& row) {
    const auto known = [&row](const std::string& text) {
        return row.listed ? json_text_or_null(text) : Json(nullptr);
    };
    Json object;
    object["port"] = row.com_number > 0 ? json_text(port_column(row)) : Json(nullptr);
    object["searched"] = row.com_number > 0;
    object["not_searched_because"] = json_text_or_null(row.not_searched);
    object["device"] = json_text_or_null(row.device);
    object["set_by"] = json_text_or_null(row.set_by);
    object["name"] = known(row.name);
    object["kind"] = row.listed ? json_text(row.kind) : Json(nullptr);
    object["description"] = row.listed ? json_text(row.description) : Json(nullptr);
    object["driver"] = known(row.driver);
    object["vendor_id"] = known(row.adapter.vendor_id);
    object["product_id"] = known(row.adapter.product_id);
    object["manufacturer"] = known(row.manufacturer);
    object["product"] = known(row.product);
    object["serial"] = known(row.adapter.serial_number);
    object["by_id"] = known(row.by_id_path);
    object["state"] = json_text(row.state.empty() ? NO_DEVICE_STATE : row.state);
    object["state_text"] = json_text(state_column(row));
    object["holder"] = row.holders.empty() ? Json(nullptr) : json_holder(row.holders.front());
    object["holders"] = Json::array();
    for (const PortListingHolder& holder : row.holders) {
        object["holders"].push_back(json_holder(holder));
    }
    object["udev_rule"] = json_text_or_null(modem_manager_rule(row));
    object["group"] = json_text_or_null(row.group);
    object["kept_by_filter"] = row.kept ? Json(*row.kept) : Json(nullptr);
    return object;
}

// One object, a row to a line, so a person can read it too.
void write_json(std::ostream& out, const std::vector<PortListingRow>& rows) {
    out << "{\"ports\": [";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        out << (index == 0 ? "\n  " : ",\n  ") << json_line(json_row(rows[index]));
    }
    out << "\n]}\n";
}

}  // namespace

void mark_kept_ports(std::vector<PortListingRow>& rows, const std::vector<PortFilter>& filters) {
    if (filters.empty()) {
        return;
    }
    for (PortListingRow& row : rows) {
        row.kept = !row.device.empty() && filters_keep(filters, row.adapter);
    }
}

void write_port_listing(std::ostream& out, const std::vector<PortListingRow>& rows, bool json) {
    if (json) {
        write_json(out, rows);
    } else {
        write_text(out, rows);
    }
}

void write_filtered_port_listing(std::ostream& out, std::ostream& err,
                                 std::vector<PortListingRow> rows, bool json,
                                 const std::vector<PortFilter>& filters) {
    mark_kept_ports(rows, filters);
    write_port_listing(out, rows, json);
    const bool none_kept = std::none_of(rows.begin(), rows.end(), [](const PortListingRow& row) {
        return row.kept.value_or(false);
    });
    if (!filters.empty() && none_kept) {
        (json ? err : out) << (json ? "" : "\n") << no_port_matches_filter(filters) << '\n';
    }
}
