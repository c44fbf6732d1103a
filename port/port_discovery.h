#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port/port_status.h"
#include "port/port_table_entry.h"

// Finding the machine's serial ports and naming them: which exist, which device a port name
// stands for, and why one could not be opened. One implementation per platform
// (port_discovery_posix.cpp, port_discovery_win32.cpp).

// The device the serial layer opens for a port of the search: the entry's own device, else
// the one its COM number stands for; empty when that COM number has no device here.
std::string searched_port_device(const PortTableEntry& port);

// "COM3 (/dev/ttyUSB0): in use by ModemManager (pid 812)", "COM3 (/dev/ttyUSB7): no such
// device": the port whose open failed with status, and why, as far as the system can tell.
std::string describe_refused_port(const PortTableEntry& port, PortStatus status);

// "in use by ModemManager (pid 812)": who holds the device, as far as the system can tell.
std::string describe_busy_device(const std::string& device);

// The one port table entry under which the serial layer opens device, for a search of
// that device alone; nothing (with a reason in error) when the device cannot be reached so.
std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error);

// A serial port of the machine: its COM name and the device the serial layer opens for it.
struct SerialPortName {
    std::string name;
    std::string device;
};
// Every serial port that exists on this machine now, in COM order: COM1..COM9 as the
// search maps them, then the devices the machine numbers beyond COM9. Each device that
// exists but is not among them is named in left_out with the reason.
std::vector<SerialPortName> find_serial_ports(std::vector<std::string>& left_out);
// The device a port argument stands for: a COM name as the serial layer maps it (empty
// when no device has that number), any other text as it is.
std::string device_for_port(const std::string& port);
// A text equal for two names of one device (a link and its target), different otherwise.
std::string device_identity(const std::string& device);

// Whether the device is there now (plugged in, mapped path existing).
bool device_is_present(const std::string& device);
