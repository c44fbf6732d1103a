#include <filesystem>

#include "port/adapter_identity.h"
#include "port/linux_port_map.h"

AdapterIdentity adapter_identity_of(const SerialDeviceInfo& device) {
    AdapterIdentity identity;
    if (!device.vendor_id.empty()) {
        identity.vendor_id = device.vendor_id;
        identity.product_id = device.product_id;
        identity.serial_number = device.serial_number;
    }
    if (!device.by_id.empty()) {
        identity.by_id = std::filesystem::path(device.by_id).filename().string();
    }
    return identity;
}

AdapterIdentity adapter_identity(const std::string& device, const SystemRoots& roots) {
    // By device number, so a by-id link, a udev alias or the node itself all lead to the tty.
    const std::optional<TtyIdentity> tty = identify_tty(device, roots);
    if (!tty) {
        return {};
    }
    for (const SerialDeviceInfo& info : scan_serial_devices(roots)) {
        if (info.name == tty->name) {
            return adapter_identity_of(info);
        }
    }
    return {};
}

AdapterIdentity adapter_identity(const std::string& device) {
    return adapter_identity(device, system_roots());
}
