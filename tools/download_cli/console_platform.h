#pragma once

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

// The one port table entry under which the serial layer opens device, for a search of
// that device alone; nothing (with a reason in error) when the device cannot be reached so.
std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error);
