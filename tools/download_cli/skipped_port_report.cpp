#include "tools/download_cli/skipped_port_report.h"

#include <utility>

#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/printable_text.h"

PortFactory reporting_skipped_ports(PortFactory factory,
                                    std::function<void(const std::string& line)> report) {
    auto open = [open = std::move(factory.open), report = std::move(report)](
                    int index, int baud, char parity, int data_bits, int stop_bits) {
        PortObject* port = open(index, baud, parity, data_bits, stop_bits);
        if (port->status != PORT_OK && port->status != PORT_E_NO_PORT) {
            report(printable(describe_refused_port(index, port->status)) + ", skipped");
        }
        return port;
    };
    return PortFactory{std::move(open), std::move(factory.set_baud_rate)};
}
