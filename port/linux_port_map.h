#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port/adapter_identity.h"

// The machine's serial devices as the kernel lists them in /sys/class/tty, numbered COM1..
// the way a Windows PC numbers its ports: real onboard UARTs ttyS0 and ttyS1 as COM1 and
// COM2, then USB, ACM and other devices with a hardware link from COM3 up in the order of
// their physical port, then further real UARTs on the numbers left. UARTs with no hardware
// behind them and the kernel console get no number: the search never opens them.

// Where the device directories are. A test points them at a fake tree.
struct SystemRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string proc = "/proc";
};
// /sys, /dev and /proc, under the directory named by KORVAN_SYSTEM_ROOT when that is set.
SystemRoots system_roots();

// The device the user's setting KORVAN_COM<number> names, when it is set (an empty value
// names no device). The one place that setting is read.
std::optional<std::string> com_port_setting(int number);

enum class SerialDeviceKind { uart, phantom_uart, usb, acm, other };

struct SerialDeviceInfo {
    std::string name;  // kernel name: ttyS1, ttyUSB0
    std::string path;  // its node under the dev root
    SerialDeviceKind kind = SerialDeviceKind::other;
    int uart_type = -1;          // the serial core's port type; -1 for other drivers
    std::string driver;          // ftdi_sio, cdc_acm, ...
    std::string vendor_id;       // USB only, four hex digits
    std::string product_id;      // USB only
    std::string manufacturer;    // USB only, as the device reports it
    std::string product;         // USB only
    std::string serial_number;   // USB only
    std::string by_id;           // its link in /dev/serial/by-id, or empty
    std::string physical_order;  // its /dev/serial/by-path name, else its sysfs device path
    bool console = false;        // the kernel writes its messages there
    int com_number = 0;          // 1.. once numbered; 0 never searched
};

// Every tty with a hardware device behind it, UARTs in line order, the rest in physical
// order, each with its COM number (which may be above 9).
std::vector<SerialDeviceInfo> scan_serial_devices(const SystemRoots& roots);

// The device numbered COM<number>, if any.
std::optional<SerialDeviceInfo> com_port_device(const std::vector<SerialDeviceInfo>& devices,
                                                int number);

// Names of the kernel's active consoles (ttyS0, tty0, ...).
std::vector<std::string> kernel_console_names(const SystemRoots& roots);

// What the kernel says of the tty behind a device path, found by its device number; nothing
// when the path names no character device the kernel lists (a pseudo-terminal, a file).
struct TtyIdentity {
    std::string name;
    bool phantom = false;  // a UART line with no hardware behind it
    bool console = false;  // the kernel writes its messages there
};
std::optional<TtyIdentity> identify_tty(const std::string& path, const SystemRoots& roots);

// "16550A UART", "USB ftdi_sio 0403:6001 "FTDI" "FT232R USB UART" serial A50285BI", ...
std::string describe_device_kind(const SerialDeviceInfo& device);

// The adapter identity of a scanned device: its USB ids and serial number when it is a USB
// device, its by-id link name when it has one.
AdapterIdentity adapter_identity_of(const SerialDeviceInfo& device);
// The adapter behind the device path (a node or a link to one) on the machine under roots.
AdapterIdentity adapter_identity(const std::string& device, const SystemRoots& roots);
