#include "engine/modem_probe.h"

#include "engine/at_command.h"
#include "engine/modem_identification.h"
#include "port/clock.h"

namespace {

// The speed at which a modem on port answers "AT"; 0 when it answers at none.
int answering_speed(PortObject* port, const PortFactory& factory) {
    for (int baud : SEARCH_BAUD_RATES) {
        if (factory.set_baud_rate(port, baud) == PORT_OK &&
            send_at_command(port, "AT", nullptr) == 0) {
            return baud;
        }
    }
    return 0;
}

std::string ask_identification(PortObject* port) {
    // The modem settles on the new speed before it takes the next command, as in a download.
    port_clock().sleep_ms(AUTOBAUD_PAUSE_MS);
    char answer[AT_BUFFER_SIZE] = "OK";
    return send_at_command(port, "ATI3", answer) == 0 ? std::string(answer) : std::string();
}

}  // namespace

std::optional<ModemProbe> probe_for_modem(const std::vector<PortTableEntry>& ports,
                                          const PortFactory& factory) {
    for (const PortTableEntry& entry : ports) {
        PortObject* port = factory.open(entry, OPEN_BAUD, 'N', 8, 1);
        if (port == nullptr) {
            continue;
        }
        std::optional<ModemProbe> found;
        if (port->status == PORT_OK) {
            if (const int baud = answering_speed(port, factory); baud != 0) {
                found = ModemProbe{entry, baud, ask_identification(port)};
            }
        }
        port->close(port);
        if (found) {
            return found;
        }
    }
    return std::nullopt;
}
