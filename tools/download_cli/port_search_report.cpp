#include "tools/download_cli/port_search_report.h"

#include <algorithm>
#include <utility>

#include "port/port_discovery.h"
#include "tools/download_cli/printable_text.h"

namespace {

std::string joined(const std::vector<std::string>& items, const std::string& last_separator) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? last_separator : ", ";
        }
        text += items[i];
    }
    return text;
}

}  // namespace

std::string port_label(const PortTableEntry& port) {
    const std::string device = searched_port_device(port);
    return device.empty() || device == port.name ? port.name : port.name + " (" + device + ")";
}

PortSearchReport::PortSearchReport(LineSink report, bool ports_named)
    : report_(std::move(report)), ports_named_(ports_named) {}

PortFactory PortSearchReport::watch(PortFactory factory) {
    auto open = [this, open = std::move(factory.open)](const PortTableEntry& entry, int baud,
                                                       char parity, int data_bits, int stop_bits) {
        PortObject* port = open(entry, baud, parity, data_bits, stop_bits);
        note_open(entry, port == nullptr ? PORT_E_NOT_SUPPORTED : port->status);
        return port;
    };
    auto set_baud_rate = [this, set = std::move(factory.set_baud_rate)](PortObject* port,
                                                                        int baud) {
        const PortStatus status = set(port, baud);
        if (status == PORT_OK) {
            note_speed(baud);
        }
        return status;
    };
    return PortFactory{std::move(open), std::move(set_baud_rate)};
}

void PortSearchReport::note_open(const PortTableEntry& entry, PortStatus status) {
    searched_.push_back(printable(entry.name));
    if (status == PORT_OK) {
        opened_.push_back(printable(port_label(entry)));
    } else if (ports_named_ || !searched_port_device(entry).empty()) {
        report_(printable(describe_refused_port(entry, status)));
    }
}

void PortSearchReport::note_speed(int baud) {
    if (std::find(speeds_.begin(), speeds_.end(), baud) == speeds_.end()) {
        speeds_.push_back(baud);
    }
}

std::string PortSearchReport::no_modem_line() const {
    const std::string hint = "; see korvan-download-cli --list-ports";
    if (opened_.empty()) {
        return "no modem answered: no port could be opened (" + joined(searched_, ", ") + ")" +
               hint;
    }
    if (speeds_.empty()) {
        return "no modem answered on " + joined(opened_, " and ") + ": no line speed could be set" +
               hint;
    }
    std::vector<std::string> speeds;
    for (int baud : speeds_) {
        speeds.push_back(std::to_string(baud));
    }
    return "no modem answered on " + joined(opened_, " and ") + " at " + joined(speeds, " and ") +
           " baud" + hint;
}
