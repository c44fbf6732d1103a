#pragma once

#include <functional>
#include <string>

#include "engine/download_sequencer.h"

// The same factory, but every port that exists and still cannot be opened is named on one
// line through report, with the reason ("COM3 (/dev/ttyUSB0): in use by ModemManager (pid
// 812), skipped"). Ports that do not exist are passed over in silence, as they cost nothing.
PortFactory reporting_skipped_ports(PortFactory factory,
                                    std::function<void(const std::string& line)> report);
