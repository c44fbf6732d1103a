#include "port/adapter_identity.h"

#include <algorithm>
#include <cctype>

#include "port/windows_com_ports.h"

namespace {

// "COM3" for "COM3", "com3" and "\\.\COM3": the name the serial map gives the port.
std::string port_name(std::string device) {
    std::transform(device.begin(), device.end(), device.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (device.rfind("\\\\.\\", 0) == 0) {
        device.erase(0, 4);
    }
    return device;
}

}  // namespace

// Windows keeps a COM port's USB ids and serial number with its device node: the registered
// port of that name, as SetupAPI describes it. Windows has no by-id names.
AdapterIdentity adapter_identity(const std::string& device) {
    const std::string name = port_name(device);
    for (const RegisteredComPort& port : registered_com_ports()) {
        if (port.name == name) {
            return {port.vendor_id, port.product_id, port.serial_number, {}};
        }
    }
    return {};
}
