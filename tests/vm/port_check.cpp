// vm-port-check: the serial port layer on a real UART, run inside the test guest by
// scripts/test-vm. COM2 is the kernel's 8250 driver on an emulated 16550A with the modem
// simulator on the far end; COM3 is a UART the kernel registered without finding a chip;
// COM4, when it is mapped, is the ftdi_sio adapter.
// What the port layer reports is compared with what a second descriptor of the same
// device reads from the kernel directly. Prints one line per failed check and a last line
// with the phantom port's open status; exits non-zero if any check failed.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "port/port_object.h"
#include "port/port_status.h"
#include "port/serial_device.h"
#include "port/windows_driver.h"

namespace {

constexpr int UART_INDEX = 1;     // COM2
constexpr int PHANTOM_INDEX = 2;  // COM3
constexpr int ADAPTER_INDEX = 3;  // COM4
// The kernel's TIOCM_LOOP (the UART's loopback), which glibc's headers leave out.
constexpr int UART_LOOPBACK = 0x8000;

int failures = 0;

void check(bool condition, const std::string& what) {
    if (!condition) {
        std::printf("FAILED: %s\n", what.c_str());
        ++failures;
    }
}

std::string got(const std::string& what, long value) {
    return what + " (got " + std::to_string(value) + ")";
}

// The modem lines as the kernel holds them, read past the port layer.
int kernel_lines(int observer) {
    int lines = 0;
    return ioctl(observer, TIOCMGET, &lines) == 0 ? lines : -1;
}

void check_output_lines(PortObject* port, int observer) {
    const struct {
        const char* name;
        PortStatus (*set_line)(PortObject* port, int on);
        int line;
    } controls[] = {{"DTR", port->set_dtr, TIOCM_DTR}, {"RTS", port->set_rts, TIOCM_RTS}};
    for (const auto& control : controls) {
        for (int on : {0, 1}) {
            control.set_line(port, on);
            const int lines = kernel_lines(observer);
            check(
                lines >= 0 && ((lines & control.line) != 0) == (on != 0),
                got(std::string(control.name) + (on ? " raised" : " lowered") + ": TIOCMGET lines",
                    lines));
        }
    }
}

std::uint32_t expected_modem_status(int lines) {
    return ((lines & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
           ((lines & TIOCM_RNG) != 0 ? MS_RING_ON : 0) |
           ((lines & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0);
}

void check_modem_status(PortObject* port, int observer) {
    const int lines = kernel_lines(observer);
    const auto expected = static_cast<int>(expected_modem_status(lines));
    check(lines >= 0 && expected != 0,
          got("the UART reports some of CTS, DSR, RI, CD (TIOCMGET)", lines));
    check(port->modem_status(port) == expected,
          got("modem_status gives the UART's lines " + std::to_string(expected),
              port->modem_status(port)));
}

void check_line_errors(PortObject* port, int observer) {
    serial_icounter_struct counts{};
    check(ioctl(observer, TIOCGICOUNT, &counts) == 0, "the UART answers TIOCGICOUNT");
    check(counts.frame == 0 && counts.parity == 0 && counts.overrun == 0 && counts.brk == 0,
          "the emulated line has had no errors");
    check(port->line_errors(port) == 0,
          got("line_errors on a clean line", port->line_errors(port)));
}

std::vector<std::string> dump_lines(PortObject* port) {
    std::vector<std::string> lines;
    port->dump(port, [&lines](const char* line) { lines.emplace_back(line); });
    return lines;
}

// Output held back by the kernel (tcflow TCOOFF) stays in the transmit queue, where only a
// real device shows it: a pseudo-terminal always reports an empty queue.
void check_transmit_queue(PortObject* port, int observer) {
    check(tcflow(observer, TCOOFF) == 0, "tcflow TCOOFF");
    const std::string block(1028, 'x');
    check(port->write_block(port, block.data(), 1028) == PORT_OK, "write_block of 1028 bytes");
    int queued = -1;
    ioctl(observer, TIOCOUTQ, &queued);
    check(queued == 1028, got("TIOCOUTQ after 1028 bytes held back", queued));
    check(port->tx_count(port) == queued, got("tx_count gives TIOCOUTQ", port->tx_count(port)));
    check(port->tx_free(port) == 22, got("tx_free: 1050 minus the queue", port->tx_free(port)));
    check(port->write_block(port, block.data(), 100) == PORT_E_TX_FULL && port->count == 22,
          got("100 more bytes: the 22 that fit, PORT_E_TX_FULL", port->count));
    port->clear_status(port);

    const std::vector<std::string> lines = dump_lines(port);
    check(lines.size() == 10, got("dump gives ten lines", static_cast<long>(lines.size())));
    if (lines.size() == 10) {
        check(lines[6].find("TX count/free:  1050/0 ") != std::string::npos &&
                  lines[6].find("BREAK/FE/OE/PE: 0000") != std::string::npos,
              "dump line 7 shows the held-back queue and no errors: " + lines[6]);
        check(lines[7] == "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
              "dump line 8: " + lines[7]);
        const auto status = static_cast<std::uint32_t>(port->modem_status(port));
        char modem_digits[8];
        std::snprintf(modem_digits, sizeof modem_digits, "%d%d%d%d", (status & MS_CTS_ON) != 0,
                      (status & MS_DSR_ON) != 0, (status & MS_RING_ON) != 0,
                      (status & MS_RLSD_ON) != 0);
        check(lines[8].ends_with(std::string("CTS/DSR/RI/CD: ") + modem_digits),
              "dump line 9 shows the UART's lines " + std::string(modem_digits) + ": " + lines[8]);
        check(lines[9] == "8250:0000", "dump line 10: " + lines[9]);
    }

    check(port->clear_tx(port) == PORT_OK, "clear_tx");
    ioctl(observer, TIOCOUTQ, &queued);
    check(queued == 0 && port->tx_count(port) == 0,
          got("clear_tx empties the kernel's transmit queue", queued));
    tcflow(observer, TCOON);
}

void check_uart() {
    PortObject* port = open_windows_port(UART_INDEX, 9600, 'N', 8, 1);
    check(port->status == PORT_OK, got("COM2 opens", port->status));
    if (port->status != PORT_OK) {
        port->close(port);
        return;
    }
    PortObject* second = open_windows_port(UART_INDEX, 9600, 'N', 8, 1);
    check(second->status == PORT_E_IN_USE,
          got("a second open of COM2: PORT_E_IN_USE", second->status));
    second->close(second);

    // Root passes the exclusive-open flag, so this descriptor only looks on.
    const char* path = std::getenv("KORVAN_COM2");
    const int observer = open(path != nullptr ? path : "", O_RDWR | O_NOCTTY | O_NONBLOCK);
    check(observer >= 0, "a second descriptor to look at the UART");
    if (observer >= 0) {
        check_output_lines(port, observer);
        check_modem_status(port, observer);
        check_line_errors(port, observer);
        check_transmit_queue(port, observer);
    }
    check(port->close(port) == PORT_OK, "closing COM2");
    if (observer >= 0) {
        const int lines = kernel_lines(observer);
        check(lines >= 0 && (lines & (TIOCM_DTR | TIOCM_RTS)) == 0,
              got("close lowers DTR and RTS", lines));
        close(observer);
    }
}

// A line stopped by the other end's XOFF holds the output written after it, and the kernel
// would hold the last close for its closing wait (30 s) to send it. The UART's loopback
// plays the other end: the port's own XOFF comes back to it.
void check_stalled_close() {
    PortObject* port = open_windows_port(UART_INDEX, 9600, 'N', 8, 1);
    const char* path = std::getenv("KORVAN_COM2");
    const int observer = open(path != nullptr ? path : "", O_RDWR | O_NOCTTY | O_NONBLOCK);
    int loop = UART_LOOPBACK;
    check(port->status == PORT_OK && observer >= 0 && ioctl(observer, TIOCMBIS, &loop) == 0,
          "COM2 in loopback");
    if (port->status != PORT_OK || observer < 0) {
        port->close(port);
        return;
    }
    port->set_xon_xoff(port, 1);
    port->write_char(port, 0x13);
    usleep(100000);  // the XOFF comes back within a few milliseconds at 9600
    const std::string block(1028, 'x');
    port->write_block(port, block.data(), 1028);
    usleep(100000);
    int queued = 0;
    ioctl(observer, TIOCOUTQ, &queued);
    check(queued > 1000, got("output held back by the XOFF (TIOCOUTQ)", queued));
    close(observer);
    const auto start = std::chrono::steady_clock::now();
    port->close(port);
    const auto closing = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    check(closing.count() < 2000, got("closing the stopped line took (ms)", closing.count()));
    const int again = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ioctl(again, TIOCMBIC, &loop);
    close(again);
}

// The adapter's latency timer as its driver reports it; -1 when it cannot be read.
int latency_timer(const std::string& attribute) {
    std::ifstream file(attribute);
    int value = -1;
    file >> value;
    return file ? value : -1;
}

// Writing the attribute makes ftdi_sio send the adapter its latency request; the write
// fails when the adapter does not acknowledge it.
bool adapter_takes_latency(const std::string& attribute, int value) {
    std::ofstream file(attribute);
    file << value << '\n';
    file.flush();
    return static_cast<bool>(file);
}

// The open lowers the adapter's latency to the driver's least; the exit-time clean-up, which
// closes whatever a failed or interrupted run left open, gives the adapter its value back.
void check_adapter_latency() {
    const char* path = std::getenv("KORVAN_COM4");
    if (path == nullptr || *path == '\0') {
        return;
    }
    const std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
    const std::string attribute = "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
    const int before = latency_timer(attribute);
    check(before >= 0 && before != 1,
          got("the adapter's latency timer before the open is readable and not 1 ms", before));
    PortObject* port = open_windows_port(ADAPTER_INDEX, 9600, 'N', 8, 1);
    check(port->status == PORT_OK, got("COM4 opens", port->status));
    const int during = latency_timer(attribute);
    check(during == 1, got("latency timer while COM4 is open, in ms", during));
    close_all_ports();
    const int after = latency_timer(attribute);
    check(after == before, got("the exit-time clean-up restores the latency timer", after));
    const bool answered = adapter_takes_latency(attribute, before);
    std::printf(
        "adapter latency timer %d ms before, %d ms open, %d ms after; "
        "the adapter %s the latency request\n",
        before, during, after, answered ? "acknowledges" : "does not acknowledge");
}

}  // namespace

int main() {
    check_uart();
    check_stalled_close();
    check_adapter_latency();
    PortObject* phantom = open_windows_port(PHANTOM_INDEX, 9600, 'N', 8, 1);
    const PortStatus phantom_status = phantom->status;
    phantom->close(phantom);
    std::printf("port checks: %d failed\nphantom COM3 status %d\n", failures, phantom_status);
    return failures == 0 ? 0 : 1;
}
