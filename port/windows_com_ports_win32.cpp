// Windows' port list: the serial map in the registry says which COM ports exist; SetupAPI
// says what each one is (the device manager's view of the same devices).
#include <windows.h>
// The device manager's API needs <windows.h> before it.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "port/windows_com_ports.h"
#include "port/windows_device_ids.h"

namespace {

constexpr const wchar_t* SERIAL_MAP_KEY = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// The "Ports (COM & LPT)" device class and the COM port device interface: a port driver's
// device is in the first, a modem or another class's device offering a COM port in the second.
constexpr GUID PORTS_CLASS = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID COM_PORT_INTERFACE = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr int HIGHEST_COM_NUMBER = 256;
// The adapter's USB device sits above its port's device node: the port itself (FTDI), one
// interface of a composite device (CDC ACM), or the USB device (usbser on the whole device).
constexpr int USB_DEVICE_SEARCH_DEPTH = 3;
// Registry value names are at most 16383 characters; device ids at most 200.
constexpr DWORD LONGEST_VALUE_NAME = 16384;

std::string utf8(const wchar_t* text, std::size_t length) {
    const std::wstring_view view(text, length);
    const std::size_t end = std::min(view.find(L'\0'), view.size());
    if (end == 0) {
        return {};
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(end), nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(end), converted.data(), size, nullptr,
                        nullptr);
    return converted;
}

std::string upper_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// 3 for "COM3" (any case); 0 for any other name.
int com_number(const std::string& name) {
    const std::string upper = upper_case(name);
    if (upper.size() < 4 || upper.size() > 6 || upper.rfind("COM", 0) != 0 ||
        !std::all_of(upper.begin() + 3, upper.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return 0;
    }
    const int number = std::stoi(upper.substr(3));
    return number >= 1 && number <= HIGHEST_COM_NUMBER ? number : 0;
}

// A REG_SZ value of key; empty when it is missing or of another type.
std::string registry_text(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size == 0) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return utf8(text.data(), size / sizeof(wchar_t));
}

int registry_number(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof number) {
        return -1;
    }
    return static_cast<int>(number);
}

struct SerialMapEntry {
    std::string kernel_name;
    std::string port_name;
};

std::vector<SerialMapEntry> read_serial_map() {
    std::vector<SerialMapEntry> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERIAL_MAP_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return entries;
    }
    std::wstring name(LONGEST_VALUE_NAME, L'\0');
    std::wstring data(MAX_PATH, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &data_size);
        if (result == ERROR_MORE_DATA) {
            continue;  // no port name is that long
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ) {
            entries.push_back(
                {utf8(name.data(), name_length), utf8(data.data(), data_size / sizeof(wchar_t))});
        }
    }
    RegCloseKey(key);
    return entries;
}

// What the device manager knows of the device behind one port.
struct DeviceDetails {
    std::string friendly_name;
    std::string driver;
    WindowsUsbIds usb;
    int latency_timer_ms = -1;
};

std::string device_property_text(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(text.data()), size, nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    return utf8(text.data(), size / sizeof(wchar_t));  // a list's first entry
}

std::string device_node_id(DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return {};
    }
    return utf8(id, MAX_DEVICE_ID_LEN);
}

// The USB ids from the port's node and the nodes above it: the first that names a vendor and
// product gives them; the serial number comes from the first of that same make that has one.
WindowsUsbIds usb_ids_of_node(DEVINST node) {
    WindowsUsbIds found;
    for (int depth = 0; depth < USB_DEVICE_SEARCH_DEPTH; ++depth) {
        const WindowsUsbIds ids = usb_ids_in_instance_id(device_node_id(node));
        if (found.vendor_id.empty()) {
            found = ids;
        } else if (ids.vendor_id == found.vendor_id && ids.product_id == found.product_id &&
                   found.serial_number.empty()) {
            found.serial_number = ids.serial_number;
        }
        DEVINST parent = 0;
        if (!found.serial_number.empty() || CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        node = parent;
    }
    return found;
}

DeviceDetails device_details(HDEVINFO set, SP_DEVINFO_DATA& device, HKEY settings) {
    DeviceDetails details;
    details.friendly_name = device_property_text(set, device, SPDRP_FRIENDLYNAME);
    if (details.friendly_name.empty()) {
        details.friendly_name = device_property_text(set, device, SPDRP_DEVICEDESC);
    }
    details.driver = device_property_text(set, device, SPDRP_SERVICE);
    details.usb = usb_ids_of_node(device.DevInst);
    if (details.usb.vendor_id.empty()) {
        details.usb = usb_ids_in_device_id(device_property_text(set, device, SPDRP_HARDWAREID));
    }
    details.latency_timer_ms = registry_number(settings, L"LatencyTimer");
    return details;
}

// Adds the details of every present device of the set that has a port name.
void collect_device_details(HDEVINFO set, std::map<std::string, DeviceDetails>& by_port) {
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        // The device's own settings ("Device Parameters"): its port name, the FTDI driver's
        // latency timer.
        HKEY settings =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (settings == INVALID_HANDLE_VALUE) {
            continue;
        }
        const std::string port = upper_case(registry_text(settings, L"PortName"));
        if (com_number(port) > 0 && by_port.count(port) == 0) {
            by_port[port] = device_details(set, device, settings);
        }
        RegCloseKey(settings);
    }
    SetupDiDestroyDeviceInfoList(set);
}

std::map<std::string, DeviceDetails> details_by_port() {
    std::map<std::string, DeviceDetails> by_port;
    collect_device_details(SetupDiGetClassDevsW(&PORTS_CLASS, nullptr, nullptr, DIGCF_PRESENT),
                           by_port);
    collect_device_details(SetupDiGetClassDevsW(&COM_PORT_INTERFACE, nullptr, nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                           by_port);
    return by_port;
}

}  // namespace

std::vector<RegisteredComPort> registered_com_ports() {
    const std::map<std::string, DeviceDetails> details = details_by_port();
    std::vector<RegisteredComPort> ports;
    for (const SerialMapEntry& entry : read_serial_map()) {
        RegisteredComPort port;
        port.number = com_number(entry.port_name);
        if (port.number == 0) {
            continue;  // a name the serial layer cannot open as COMn
        }
        port.name = "COM" + std::to_string(port.number);
        port.kernel_name = entry.kernel_name;
        if (const auto found = details.find(port.name); found != details.end()) {
            port.friendly_name = found->second.friendly_name;
            port.driver = found->second.driver;
            port.vendor_id = found->second.usb.vendor_id;
            port.product_id = found->second.usb.product_id;
            port.serial_number = found->second.usb.serial_number;
            port.latency_timer_ms = found->second.latency_timer_ms;
        }
        ports.push_back(port);
    }
    std::sort(
        ports.begin(), ports.end(),
        [](const RegisteredComPort& a, const RegisteredComPort& b) { return a.number < b.number; });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const RegisteredComPort& a, const RegisteredComPort& b) {
                                return a.number == b.number;
                            }),
                ports.end());
    return ports;
}

ComPortState probe_com_port(const std::string& name) {
    const std::string path = "\\\\.\\" + name;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        switch (error) {
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
                return {PortUse::in_use, error, false};
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return {PortUse::missing, error, false};
            default:
                return {PortUse::unusable, error, false};
        }
    }
    // Opened, but only a device that takes line settings is a serial port to flash through.
    DCB settings{};
    settings.DCBlength = sizeof settings;
    const bool serial = GetCommState(handle, &settings) != FALSE;
    const DWORD error = serial ? 0 : GetLastError();
    CloseHandle(handle);
    return serial ? ComPortState{PortUse::free, 0, true}
                  : ComPortState{PortUse::unusable, error, true};
}
