#pragma once

#include <string>

// Why a serial port can or cannot be used right now, on any system: Windows tells fewer of
// these apart than Linux (no permission, phantom and console are Linux's alone).
enum class PortUse { free, in_use, no_permission, missing, phantom, console, unusable };

// The state's name in machine-readable output: "free", "in_use", "no_permission", ...
std::string port_use_name(PortUse use);
