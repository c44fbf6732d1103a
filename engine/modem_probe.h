#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/download_sequencer.h"

// Where a probe found a modem: the port, the line speed it answered "AT" at, and its ATI3
// answer (echo included; empty when it did not answer ATI3).
struct ModemProbe {
    PortTableEntry port;
    int baud = 0;
    std::string identification;
};

// Searches ports in order, each at SEARCH_BAUD_RATES, for a modem that answers "AT", as a
// download's search does; on the first one asks "ATI3" and stops there. Nothing else is
// sent: no download-mode command and no packet, so the modem stays in its text mode. Every
// port opened is closed again. Waits run on port_clock(). Nothing when no modem answered.
std::optional<ModemProbe> probe_for_modem(const std::vector<PortTableEntry>& ports,
                                          const PortFactory& factory);
