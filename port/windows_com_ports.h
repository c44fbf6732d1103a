#pragma once

#include <string>
#include <vector>

#include "port/port_use.h"

// The serial ports Windows has registered now, and what its device manager knows of each.
// Every text comes from drivers and devices: untrusted, escape it when shown.

struct RegisteredComPort {
    int number = 0;             // 3 for COM3
    std::string name;           // COM3
    std::string kernel_name;    // \Device\VCP0: the driver's device object behind the name
    std::string friendly_name;  // "USB Serial Port (COM3)", as the device manager shows it
    std::string driver;         // the driver's service: FTDIBUS, usbser, Serial
    std::string vendor_id;      // USB only: four lower-case hex digits
    std::string product_id;     // USB only
    std::string serial_number;  // USB only, the adapter's own
    // The FTDI driver's receive latency in ms, from the device's settings; -1 when the
    // registry holds none (another driver, or the default never changed).
    int latency_timer_ms = -1;
};

// Every port of the system's serial map (HARDWARE\DEVICEMAP\SERIALCOMM), in COM-number order
// (COM2 before COM10), each with what SetupAPI knows of its device where it knows it.
std::vector<RegisteredComPort> registered_com_ports();

// Whether a registered port can be opened now, as far as Windows tells: another program
// holding it refuses the open; a port whose device went away is not found.
struct ComPortState {
    PortUse use = PortUse::free;  // free, in_use, missing or unusable
    unsigned long error = 0;      // the system's error code when not free
    bool opened = false;          // unusable: it opened, but took no serial line settings
};
// Opens the port for a moment (never when another program has it) and closes it again.
ComPortState probe_com_port(const std::string& name);
