#include "tools/download_cli/windows_port_listing.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <string>

#include "tools/download_cli/printable_text.h"
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

std::string state_name(const ComPortState& state) {
    switch (state.use) {
        case ComPortUse::free:
            return "free";
        case ComPortUse::in_use:
            return "in_use";
        case ComPortUse::missing:
            return "missing";
        case ComPortUse::unusable:
            break;
    }
    return "unusable";
}

std::string describe_state(const ComPortState& state) {
    const std::string error = " (error " + std::to_string(state.error) + ")";
    switch (state.use) {
        case ComPortUse::free:
            return "free";
        case ComPortUse::in_use:
            return "in use by another program";
        case ComPortUse::missing:
            return "no such device";
        case ComPortUse::unusable:
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
    std::vector<std::array<std::string, 6>> table{
        {"PORT", "NAME", "DRIVER", "USB", "LATENCY", "STATE"}};
    for (const WindowsPortRow& row : rows) {
        table.push_back({row.port.name, printable(or_dash(row.port.friendly_name)),
                         printable(or_dash(row.port.driver)), printable(usb_column(row.port)),
                         latency_column(row.port), state_column(row)});
    }
    std::array<std::size_t, 6> widths{};
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
    write_latency_advice(out, rows);
}

std::string json_string(const std::string& text) {
    return json_line(json_text(text));
}

std::string json_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
}

std::string json_row(const WindowsPortRow& row) {
    const RegisteredComPort& port = row.port;
    std::string text = "{\"port\": " + json_string(port.name);
    text += ", \"searched\": " + std::string(searched(row) ? "true" : "false");
    text += ", \"not_searched_because\": " +
            std::string(searched(row) ? "null" : json_string("beyond_com9"));
    text += ", \"device\": " + json_string("\\\\.\\" + port.name);
    text += ", \"name\": " + json_or_null(port.kernel_name);
    text += ", \"kind\": " + json_string(port.vendor_id.empty() ? "other" : "usb");
    text += ", \"description\": " + json_or_null(port.friendly_name);
    text += ", \"driver\": " + json_or_null(port.driver);
    text += ", \"vendor_id\": " + json_or_null(port.vendor_id);
    text += ", \"product_id\": " + json_or_null(port.product_id);
    text += ", \"serial\": " + json_or_null(port.serial_number);
    text +=
        ", \"latency_timer_ms\": " +
        (port.latency_timer_ms < 0 ? std::string("null") : std::to_string(port.latency_timer_ms));
    text += ", \"state\": " + json_string(state_name(row.state));
    text += ", \"state_text\": " + json_string(state_column(row));
    return text + "}";
}

void write_json(std::ostream& out, const std::vector<WindowsPortRow>& rows) {
    out << "{\"ports\": [";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        out << (index == 0 ? "\n  " : ",\n  ") << json_row(rows[index]);
    }
    out << (rows.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace

std::vector<WindowsPortRow> list_windows_ports() {
    std::vector<WindowsPortRow> rows;
    for (const RegisteredComPort& port : registered_com_ports()) {
        rows.push_back({port, probe_com_port(port.name)});
    }
    return rows;
}

void write_windows_port_listing(std::ostream& out, const std::vector<WindowsPortRow>& rows,
                                bool json) {
    if (json) {
        write_json(out, rows);
    } else {
        write_text(out, rows);
    }
}
