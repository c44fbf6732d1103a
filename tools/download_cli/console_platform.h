#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "engine/download_sequencer.h"

// The few console operations that differ between operating systems; one implementation
// per platform (console_platform_posix.cpp, console_platform_win32.cpp).

bool stdout_is_terminal();
bool stdin_is_terminal();

// The console's idle dispatcher: there is no window queue to serve, so it only waits at
// most 1 ms, which keeps the port layer's busy-polling waits from holding a core at 100%.
void wait_briefly_for_input();

// "COM3 (/dev/ttyUSB0): in use by ModemManager (pid 812)": the port whose open was refused
// with status, and why, as far as the system can tell.
std::string describe_refused_port(int index, PortStatus status);

// Writes one row per serial device and per COM number (aligned text, or JSON for scripts)
// and returns the program's exit status.
int list_serial_ports(std::ostream& out, bool json);

// The one port table entry under which the serial layer opens device, for a search of
// that device alone; nothing (with a reason in error) when the device cannot be reached so.
std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error);
