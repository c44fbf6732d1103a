// The serial driver over the real Win32 communications API, run under Wine by
// scripts/test-windows: COM9 is the modem simulator's pty, COM1 leads nowhere and COM20 is
// unknown. Prints one line per failed check and exits non-zero if any failed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port/clock.h"
#include "port/port_object.h"
#include "port/port_status.h"
#include "port/port_transfer.h"
#include "port/serial_device.h"
#include "port/windows_driver.h"

namespace {

int failures = 0;

void check(bool condition, const std::string& what) {
    if (!condition) {
        std::printf("FAILED: %s\n", what.c_str());
        ++failures;
    }
}

std::string with_value(const char* what, long value) {
    return std::string(what) + " (got " + std::to_string(value) + ")";
}

// COM20 is known to nothing: Windows reports the name as not found.
void check_missing_port() {
    PortObject* port = open_windows_port(19, 9600, 'N', 8, 1);
    check(port->status == PORT_E_NO_PORT,
          with_value("COM20 does not exist: PORT_E_NO_PORT", port->status));
    check(port->read_block(port, nullptr, 0) == PORT_E_NOT_SUPPORTED,
          "a port that did not open keeps the default slots");
    check(port->close(port) == PORT_OK, "closing a port that did not open");
}

// COM1 is registered with Wine but leads nowhere: Wine opens its placeholder device, whose
// settings cannot be read, so the open reports a failure all the same.
void check_port_without_device() {
    PortObject* port = open_windows_port(0, 9600, 'N', 8, 1);
    check(port->status != PORT_OK, "COM1 without a device does not open cleanly");
    port->close(port);
}

// Everything received within ms milliseconds, read only as far as the device reports it.
std::string collect_reply(PortObject* port, std::uint32_t ms) {
    std::string reply;
    Clock& clock = port_clock();
    const std::uint32_t start = clock.tick_ms();
    char buffer[64];
    while (elapsed_ms(start, clock.tick_ms()) < ms) {
        if (port->read_block(port, buffer, sizeof buffer) == PORT_OK) {
            reply.append(buffer, port->count);
        } else {
            clock.sleep_ms(5);
        }
    }
    return reply;
}

void check_dump(PortObject* port) {
    std::vector<std::string> lines;
    check(port->dump(port, [&lines](const char* line) { lines.emplace_back(line); }) == PORT_OK,
          "dump");
    check(lines.size() == 10, with_value("dump gives ten lines", static_cast<long>(lines.size())));
    if (lines.size() == 10) {
        check(lines[4].find("XonChar: 11  XoffChar: 13") != std::string::npos,
              "dump line 5 shows the XON/XOFF characters: " + lines[4]);
        check(lines[5].find("XonLim: 262") != std::string::npos,
              "dump line 6 shows a quarter of the receive queue: " + lines[5]);
        check(lines[9] == "8250:0000", "dump line 10: " + lines[9]);
        // The line was left with XON/XOFF on: the open switches it off all the same.
        check(lines[3].find("OutX: 0  InX: 0") != std::string::npos,
              "dump line 4 shows no software flow control: " + lines[3]);
    }
    const auto* record = static_cast<const WindowsDriverRecord*>(port->driver);
    check(record->dcb.fDsrSensitivity == 0, "the open switches DSR sensitivity off");
}

// With XON/XOFF switched on, the modem's XOFF stops the line and a write after it never
// completes: the next write gives up within its time and reports PORT_E_TX_FULL, and the
// close does not wait on the line either. Measured on the real clock, as the device layer's
// limits are the system's own waits.
void check_stalled_line(PortObject* port) {
    port->clear_status(port);  // the queue-size check above left PORT_E_TX_FULL
    check(port->set_xon_xoff(port, 1) == PORT_OK, "set_xon_xoff on");
    check(set_baud_rate(port, 115200) == PORT_OK, "back to 115200 after the copy's 9600");
    // A carriage return first ends the junk line the queue-size check left.
    check(port_write_string(port, "\rAT*D", 13) == PORT_OK, "entering download mode");
    collect_reply(port, 500);
    const unsigned char configure[] = {0x00, 0x01, 0x00, 0x00, 0x02, 0xA6};
    check(port->write_block(port, configure, sizeof configure) == PORT_OK, "configure written");
    collect_reply(port, 500);  // the XOFF arrives and stops the line
    check(port->write_block(port, "AT\r", 3) == PORT_OK, "a write under way counts as done");
    Clock& clock = port_clock();
    const std::uint32_t start = clock.tick_ms();
    const PortStatus stalled = port->write_block(port, "AT\r", 3);
    const std::uint32_t waited = elapsed_ms(start, clock.tick_ms());
    check(stalled == PORT_E_TX_FULL, with_value("the write after a stalled one fails", stalled));
    check(waited < 3500, with_value("and gives up within its time (ms)", waited));
    port->clear_status(port);
    check(port->write_block(port, "AT\r", 3) == PORT_OK, "the next write is under way again");
    const std::uint32_t close_start = clock.tick_ms();
    check(port->close(port) == PORT_OK, "closing the stalled COM9");
    const std::uint32_t closing = elapsed_ms(close_start, clock.tick_ms());
    check(closing < 3500, with_value("closing does not wait on the stalled line (ms)", closing));
}

// The next open of the port may be given the closed handle's value: it starts afresh, with
// nothing of the stalled line's write left over to fail its first write. (The modem, stuck
// after its XOFF, answers nothing more.)
void check_reopened_after_stall() {
    PortObject* port = open_windows_port(8, 9600, 'N', 8, 1);
    check(port->status == PORT_OK, with_value("COM9 opens again after the stall", port->status));
    if (port->status != PORT_OK) {
        port->close(port);
        return;
    }
    check(set_baud_rate(port, 115200) == PORT_OK, "the reopened COM9 at 115200");
    const unsigned char configure[] = {0x00, 0x01, 0x00, 0x00, 0x02, 0xA6};
    check(port->write_block(port, configure, sizeof configure) == PORT_OK,
          with_value("a write on the reopened COM9", port->status));
    char byte = 0;
    check(port->read_block(port, &byte, 1) == PORT_E_TIMEOUT && port->status == PORT_OK,
          "a read on the reopened COM9 finds nothing and records nothing");
    check(port->close(port) == PORT_OK, "closing the reopened COM9");
}

std::uint32_t device_rate(PortObject* port) {
    SerialSettings settings{};
    const auto* record = static_cast<const WindowsDriverRecord*>(port->driver);
    return serial_get_settings(record->handle, &settings) ? settings.BaudRate : 0;
}

// set_baud_rate changes the device alone; the next line control writes the driver's copy,
// and with it the copy's 9600, back to the device.
void check_speed_round_trip(PortObject* port) {
    check(device_rate(port) == 9600, with_value("the device runs at 9600", device_rate(port)));
    check(set_baud_rate(port, 57600) == PORT_OK, "set_baud_rate to 57600");
    check(device_rate(port) == 57600, with_value("the device runs at 57600", device_rate(port)));
    check(port->set_dtr(port, 1) == PORT_OK, "set_dtr");
    check(device_rate(port) == 9600,
          with_value("set_dtr wrote the copy's 9600 back", device_rate(port)));
}

void check_modem_port() {
    PortObject* port = open_windows_port(8, 9600, 'N', 8, 1);
    check(port->status == PORT_OK, with_value("COM9 opens", port->status));
    check(port->driver_kind == WINDOWS_DRIVER_KIND, "the driver record is attached");
    if (port->status != PORT_OK) {
        port->close(port);
        return;
    }

    char byte = 0;
    check(port->read_block(port, &byte, 1) == PORT_E_TIMEOUT && port->count == 0,
          "nothing waiting: PORT_E_TIMEOUT and count 0");
    check(port->status == PORT_OK, "a read records nothing");

    check(port->set_line_format(port, 115200, 'N', 8, 1) == PORT_E_BAD_BAUD,
          "set_line_format refuses 115200");
    port->clear_status(port);
    check_speed_round_trip(port);
    check(set_baud_rate(port, 115200) == PORT_OK, "set_baud_rate to 115200");

    check(port_write_string(port, "AT", PORT_TERM_CRLF) == PORT_OK, "writing AT");
    const std::string reply = collect_reply(port, 1500);
    check(reply.find("OK") != std::string::npos, "the modem answers AT with OK: '" + reply + "'");

    check_dump(port);
    check(port->write_block(port, std::string(1100, 'x').data(), 1100) == PORT_E_TX_FULL &&
              port->count == 1050,
          with_value("1100 bytes into a 1050-byte queue: 1050 sent, PORT_E_TX_FULL",
                     static_cast<long>(port->count)));
    check_stalled_line(port);
    check_reopened_after_stall();
}

}  // namespace

int main() {
    check(serial_host_supported(), "the host has serial-device support");
    check_missing_port();
    check_port_without_device();
    check_modem_port();
    std::printf("serial driver checks: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
