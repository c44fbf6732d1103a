#include "port/windows_device_ids.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr std::size_t USB_ID_DIGITS = 4;

std::string lower_case(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// The four hex digits after key ("VID_") where key starts a field of the id.
std::string hex_id_after(std::string_view device_id, std::string_view key) {
    const std::string lowered = lower_case(device_id);
    const std::string wanted = lower_case(key);
    for (std::size_t at = lowered.find(wanted); at != std::string::npos;
         at = lowered.find(wanted, at + 1)) {
        const bool starts_field =
            at == 0 || lowered[at - 1] == '\\' || lowered[at - 1] == '&' || lowered[at - 1] == '+';
        const std::string digits = lowered.substr(at + wanted.size(), USB_ID_DIGITS);
        const bool ends_field =
            at + wanted.size() + USB_ID_DIGITS == lowered.size() ||
            !std::isxdigit(static_cast<unsigned char>(lowered[at + wanted.size() + USB_ID_DIGITS]));
        if (starts_field && ends_field && digits.size() == USB_ID_DIGITS &&
            std::all_of(digits.begin(), digits.end(),
                        [](unsigned char c) { return std::isxdigit(c) != 0; })) {
            return digits;
        }
    }
    return {};
}

// Windows' own instance parts hold '&' ("5&2F1B3C6E&0&2"); a device's serial number never
// reaches an instance id with one.
bool is_made_up_by_windows(std::string_view instance_part) {
    return instance_part.empty() || instance_part.find('&') != std::string_view::npos;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return lower_case(a) == lower_case(b);
}

}  // namespace

WindowsUsbIds usb_ids_in_device_id(std::string_view device_id) {
    WindowsUsbIds ids;
    ids.vendor_id = hex_id_after(device_id, "VID_");
    ids.product_id = hex_id_after(device_id, "PID_");
    if (ids.vendor_id.empty() || ids.product_id.empty()) {
        return {};
    }
    return ids;
}

WindowsUsbIds usb_ids_in_instance_id(std::string_view instance_id) {
    WindowsUsbIds ids = usb_ids_in_device_id(instance_id);
    const std::vector<std::string_view> parts = split(instance_id, '\\');
    if (ids.vendor_id.empty() || parts.size() != 3) {
        return ids;
    }
    if (equal_ignoring_case(parts[0], "USB")) {
        // One interface of a composite device: the serial number is its parent's.
        const bool interface = lower_case(parts[1]).find("&mi_") != std::string::npos;
        if (!interface && !is_made_up_by_windows(parts[2])) {
            ids.serial_number = std::string(parts[2]);
        }
    } else if (equal_ignoring_case(parts[0], "FTDIBUS")) {
        const std::vector<std::string_view> fields = split(parts[1], '+');
        if (fields.size() == 3 && fields[2].size() > 1 && !is_made_up_by_windows(fields[2]) &&
            std::isupper(static_cast<unsigned char>(fields[2].back()))) {
            ids.serial_number = std::string(fields[2].substr(0, fields[2].size() - 1));
        }
    }
    return ids;
}
