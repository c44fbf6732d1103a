// Kept apart from the sequencer so that programs and tests that bring their own factory do
// not need the serial driver linked in.
#include "engine/download_sequencer.h"
#include "port/port_trace.h"
#include "port/serial_device.h"
#include "port/windows_driver.h"

namespace {

// The driver's open, reported to the port trace when one is installed.
PortObject* open_serial_port(const PortTableEntry& entry, int baud, char parity, int data_bits,
                             int stop_bits) {
    PortObject* port =
        open_windows_port(entry.index, baud, parity, data_bits, stop_bits, entry.device);
    if (PortTrace* trace = port_trace()) {
        const std::string device =
            entry.device.empty() ? serial_device_name(entry.index) : entry.device;
        trace->record_open(entry.name, device, baud, parity, data_bits, stop_bits, port);
    }
    return port;
}

PortStatus change_line_speed(PortObject* port, int baud) {
    const PortStatus result = set_baud_rate(port, baud);
    if (PortTrace* trace = port_trace()) {
        trace->record_speed_change(port, baud, result);
    }
    return result;
}

}  // namespace

PortFactory serial_port_factory() {
    return PortFactory{open_serial_port, change_line_speed};
}
