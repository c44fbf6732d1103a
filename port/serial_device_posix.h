#pragma once

#include <cstdint>
#include <string>

// Details of the POSIX serial-device layer that its tests look at.

// Device path of COM(index + 1): the environment variable KORVAN_COM<n> when it is set
// (even to an empty value, which names no device), otherwise the machine's device numbered
// COM<n> (see linux_port_map.h), or an empty path when there is none.
std::string serial_device_path(int index);

// The Win32 error number that stands for an errno value of a failed device call.
std::int32_t serial_error_from_errno(int error);

// Replaces the value serial_last_error() reports.
void serial_set_last_error(std::int32_t error);
