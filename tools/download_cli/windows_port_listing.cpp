#include "tools/download_cli/windows_port_listing.h"

#include <algorithm>
#include <ostream>
#include <string>

#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/text_table.h"
#include "tools/json_text/json_text.h"

namespace {

constexpr int HIGHEST_SEARCHED_COM = 9;
// What a lower latency timer would give: the driver's smallest setting.
constexpr int LOWEST_LATENCY_TIMER_MS = 1;

bool searched(const WindowsPortRow& row) {
    return row.port.number <= HIGHEST_SEARCHED_COM;
}

std::string or_dash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string usb_column(const RegisteredComPort& port) {
    if (port.vendor_id.empty()) {
        return "-";
    }
    std::string text = port.vendor_id + ":" + port.product_id;
    if (!port.serial_number.empty()) {
        text += " serial " + port.serial_number;
    }
    return text;
}

std::string latency_column(const RegisteredComPort& port) {
    return port.latency_timer_ms < 0 ? "-" : std::to_string(port.latency_timer_ms) + " ms";
}

std::string describe_state(const ComPortState& state) {
    const std::string error = " (error " + std::to_string(state.error) + ")";
    switch (state.use) {
        case PortUse::free:
            return "free";
        case PortUse::in_use:
            return "in use by another program";
        case PortUse::missing:
            return "no such device";
        case PortUse::no_permission:  // Windows tells these apart from no other refusal
        case PortUse::phantom:
        case PortUse::console:
        case PortUse::unusable:
            break;
    }
    return state.opened ? "opens, but takes no serial line settings" + error
                        : "cannot be opened" + error;
}

std::string state_column(const WindowsPortRow& row) {
    std::string text = describe_state(row.state);
    if (!searched(row)) {
        text += "; " + row.port.name + " is beyond the plain search of COM1..COM9: --port " +
                row.port.name + " or --all-ports reach it";
    }
    return text;
}

void write_latency_advice(std::ostream& out, const std::vector<WindowsPortRow>& rows) {
    for (const WindowsPortRow& row : rows) {
        if (row.port.latency_timer_ms > LOWEST_LATENCY_TIMER_MS) {
            out << "\n"
                << row.port.name << ": its driver holds received bytes for up to "
                << row.port.latency_timer_ms << " ms before passing them on. Set it to "
                << LOWEST_LATENCY_TIMER_MS << " ms in Device Manager > Ports (COM & LPT) > "
                << printable(or_dash(row.port.friendly_name))
                << " > Properties > Port Settings > Advanced > BM Options > Latency Timer "
                   "(msec).\n";
        }
    }
}

void write_text(std::ostream& out, const std::vector<WindowsPortRow>& rows) {
    if (rows.empty()) {
        out << "No serial port is registered on this PC (see Device Manager > Ports (COM & "
               "LPT)).\n";
        return;
    }
    const bool marked = rows.front().kept.has_value();
    std::vector<std::vector<std::string>> table{
        {"PORT", "NAME", "DRIVER", "USB", "LATENCY", "STATE"}};
    if (marked) {
        table.front().insert(table.front().begin() + 1, "FILTER");
    }
    for (const WindowsPortRow& row : rows) {
        std::vector<std::string> cells{row.port.name,
                                       printable(or_dash(row.port.friendly_name)),
                                       printable(or_dash(row.port.driver)),
                                       printable(usb_column(row.port)),
                                       latency_column(row.port),
                                       state_column(row)};
        if (marked) {
            cells.insert(cells.begin() + 1, *row.kept ? "kept" : "left out");
        }
        table.push_back(cells);
    }
    write_aligned_table(out, table);
    write_latency_advice(out, rows);
}

using Json = nlohmann::ordered_json;

Json json_row(const WindowsPortRow& row) {
    const RegisteredComPort& port = row.port;
    Json object;
    object["port"] = json_text(port.name);
    object["searched"] = searched(row);
    object["not_searched_because"] = searched(row) ? Json(nullptr) : json_text("beyond_com9");
    object["device"] = json_text("\\\\.\\" + port.name);
    object["name"] = json_text_or_null(port.kernel_name);
    object["kind"] = json_text(port.vendor_id.empty() ? "other" : "usb");
    object["description"] = json_text_or_null(port.friendly_name);
    object["driver"] = json_text_or_null(port.driver);
    object["vendor_id"] = json_text_or_null(port.vendor_id);
    object["product_id"] = json_text_or_null(port.product_id);
    object["serial"] = json_text_or_null(port.serial_number);
    object["latency_timer_ms"] =
        port.latency_timer_ms < 0 ? Json(nullptr) : Json(port.latency_timer_ms);
    object["state"] = json_text(port_use_name(row.state.use));
    object["state_text"] = json_text(state_column(row));
    object["kept_by_filter"] = row.kept ? Json(*row.kept) : Json(nullptr);
    return object;
}

void write_json(std::ostream& out, const std::vector<WindowsPortRow>& rows) {
    out << "{\"ports\": [";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        out << (index == 0 ? "\n  " : ",\n  ") << json_line(json_row(rows[index]));
    }
    out << (rows.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace

std::vector<WindowsPortRow> list_windows_ports() {
    std::vector<WindowsPortRow> rows;
    for (const RegisteredComPort& port : registered_com_ports()) {
        rows.push_back({port, probe_com_port(port.name), std::nullopt});
    }
    return rows;
}

void write_windows_port_listing(std::ostream& out, std::ostream& err,
                                std::vector<WindowsPortRow> rows, bool json,
                                const std::vector<PortFilter>& filters) {
    bool any_kept = false;
    for (WindowsPortRow& row : rows) {
        if (!filters.empty()) {
            const AdapterIdentity adapter{
                row.port.vendor_id, row.port.product_id, row.port.serial_number, {}};
            row.kept = filters_keep(filters, adapter);
            any_kept = any_kept || *row.kept;
        }
    }
    if (json) {
        write_json(out, rows);
    } else {
        write_text(out, rows);
    }
    if (!filters.empty() && !any_kept) {
        (json ? err : out) << (json ? "" : "\n") << no_port_matches_filter(filters) << '\n';
    }
}
