#pragma once

#include <string>

// What the machine knows of the USB adapter behind a serial port, so that a station can tell
// its own adapters from a UPS or a GPS receiver on the same PC, and a report can say which
// adapter a modem hung on. Every field is empty when the port is no USB device or the system
// does not say. The texts come from the device itself: untrusted, escape them when shown.
struct AdapterIdentity {
    std::string vendor_id;      // USB vendor id, four hex digits as the system gives them
    std::string product_id;     // USB product id, likewise
    std::string serial_number;  // the adapter's USB serial number string
    std::string by_id;          // its /dev/serial/by-id link name (no directory)

    bool is_usb() const { return !vendor_id.empty(); }
};

// The adapter behind device: what the serial layer opens for a port (a device path or a link
// to one on Linux, a COM name on Windows). An empty identity for anything else.
AdapterIdentity adapter_identity(const std::string& device);
