#include "port/port_filter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr std::size_t MAX_ID_DIGITS = 4;

// A USB id as 1 to 4 hex digits, with or without 0x; nothing for any other text.
std::optional<unsigned> parse_usb_id(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.erase(0, 2);
    }
    if (text.empty() || text.size() > MAX_ID_DIGITS ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(text, nullptr, 16));
}

std::vector<std::string> split_fields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma = text.find(','); comma != std::string::npos;
         comma = text.find(',', start)) {
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

bool set_id(std::optional<unsigned>& id, const std::string& key, const std::string& value,
            std::string& error) {
    if (id) {
        error = key + " is given twice";
        return false;
    }
    id = parse_usb_id(value);
    if (!id) {
        error = key + "=" + value + " is no USB id (1 to 4 hex digits)";
        return false;
    }
    return true;
}

// Applies one key=value field to the filter; false (with the reason in error) if it is none.
bool apply_field(const std::string& field, std::optional<unsigned>& vendor_id, PortFilter& filter,
                 std::string& error) {
    const std::size_t equals = field.find('=');
    if (equals == std::string::npos) {
        error = field.empty() ? "an empty field"
                              : "\"" + field +
                                    "\" is no field (vid=, pid= or serial=; a serial number "
                                    "cannot hold a comma)";
        return false;
    }
    std::string key = field.substr(0, equals);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    const std::string value = field.substr(equals + 1);
    if (key == "vid") {
        return set_id(vendor_id, key, value, error);
    }
    if (key == "pid") {
        return set_id(filter.product_id, key, value, error);
    }
    if (key == "serial") {
        if (filter.serial_number) {
            error = "serial is given twice";
            return false;
        }
        if (value.empty()) {
            error = "serial= is empty";
            return false;
        }
        filter.serial_number = value;
        return true;
    }
    error = "unknown field \"" + key + "\" (vid=, pid= or serial=)";
    return false;
}

}  // namespace

std::optional<PortFilter> parse_port_filter(const std::string& text, std::string& error) {
    PortFilter filter;
    std::optional<unsigned> vendor_id;
    for (const std::string& field : split_fields(text)) {
        if (!apply_field(field, vendor_id, filter, error)) {
            return std::nullopt;
        }
    }
    if (!vendor_id) {
        error = "vid= is missing";
        return std::nullopt;
    }
    filter.vendor_id = *vendor_id;
    return filter;
}

bool filter_matches(const PortFilter& filter, const AdapterIdentity& adapter) {
    const std::optional<unsigned> vendor_id = parse_usb_id(adapter.vendor_id);
    if (!adapter.is_usb() || vendor_id != filter.vendor_id) {
        return false;
    }
    if (filter.product_id && parse_usb_id(adapter.product_id) != filter.product_id) {
        return false;
    }
    return !filter.serial_number || adapter.serial_number == *filter.serial_number;
}

bool filters_keep(const std::vector<PortFilter>& filters, const AdapterIdentity& adapter) {
    return filters.empty() ||
           std::any_of(filters.begin(), filters.end(), [&adapter](const PortFilter& filter) {
               return filter_matches(filter, adapter);
           });
}

bool filters_keep_device(const std::vector<PortFilter>& filters, const std::string& device) {
    return filters.empty() || filters_keep(filters, adapter_identity(device));
}

std::string describe_port_filter(const PortFilter& filter) {
    const auto hex4 = [](unsigned id) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", id);
        return std::string(text);
    };
    std::string text = "vid=" + hex4(filter.vendor_id);
    if (filter.product_id) {
        text += ",pid=" + hex4(*filter.product_id);
    }
    if (filter.serial_number) {
        text += ",serial=" + *filter.serial_number;
    }
    return text;
}

std::string describe_port_filters(const std::vector<PortFilter>& filters) {
    std::string text;
    for (const PortFilter& filter : filters) {
        text += (text.empty() ? "" : " or ") + describe_port_filter(filter);
    }
    return text;
}

std::string filters_keep_no_port(const std::vector<PortFilter>& filters) {
    return "No serial port has a USB adapter that matches --port-filter " +
           describe_port_filters(filters);
}
