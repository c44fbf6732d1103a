#pragma once

#include <string>

// One entry of the port search: 0-based index (0 is COM1), the port's name as the user
// knows it (COM3, or the device itself), and the device to open: empty for the serial
// layer's own device of COM(index + 1).
struct PortTableEntry {
    int index;
    std::string name;
    std::string device = {};
};
