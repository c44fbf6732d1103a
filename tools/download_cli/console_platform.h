#pragma once

#include <string>

// The few console operations that differ between operating systems; one implementation
// per platform (console_platform_posix.cpp, console_platform_win32.cpp).

bool stdout_is_terminal();
bool stdin_is_terminal();

// The console's idle dispatcher: there is no window queue to serve, so it only waits at
// most 1 ms, which keeps the port layer's busy-polling waits from holding a core at 100%.
void wait_briefly_for_input();

// Makes COM1 the given device, so a one-entry port table searches only that device.
// False (with a reason in error) when the mapping cannot be made.
bool map_com1_to_device(const std::string& device, std::string& error);
