// COM numbers for the serial devices of a machine, over a fake /sys and /dev, and the open's
// refusal of ports that must not be searched.
#include "port/linux_port_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "port/serial_device_posix.h"
#include "port/windows_driver.h"
#include "tests/port/pty_line.h"
#include "tests/support/fake_system_tree.h"

namespace {

constexpr int PORT_16550A = 4;

std::map<std::string, int> com_numbers(const std::vector<SerialDeviceInfo>& devices) {
    std::map<std::string, int> numbers;
    for (const SerialDeviceInfo& device : devices) {
        numbers[device.name] = device.com_number;
    }
    return numbers;
}

// Points the serial layer at a fake machine for the lifetime of the object.
class ScopedSystemRoot {
  public:
    explicit ScopedSystemRoot(const std::string& root) {
        setenv("KORVAN_SYSTEM_ROOT", root.c_str(), 1);
    }
    ~ScopedSystemRoot() { unsetenv("KORVAN_SYSTEM_ROOT"); }
};

// Leaves COM<number> to the machine's numbering for the lifetime of the object.
class ScopedComUnmapped {
  public:
    explicit ScopedComUnmapped(int number) : number_(number) {
        unsetenv(("KORVAN_COM" + std::to_string(number)).c_str());
    }
    ~ScopedComUnmapped() {
        setenv(("KORVAN_COM" + std::to_string(number_)).c_str(), unmapped_com_path(number_).c_str(),
               1);
    }

  private:
    int number_;
};

TEST(LinuxPortMap, NumbersPortsLikeAWindowsPc) {
    FakeSystemTree machine;
    machine.add_uart(0, PORT_16550A);  // the console
    machine.add_uart(1, PORT_16550A);
    machine.add_uart(2, 0);  // a phantom
    machine.add_uart(3, PORT_16550A);
    machine.set_consoles("tty0 ttyS0");
    machine.add_virtual_tty("tty0");
    // Ten USB devices: the socket, not the kernel's name, decides the order, and socket 10
    // comes after socket 2.
    for (int socket = 1; socket <= 9; ++socket) {
        const std::string name = "ttyUSB" + std::to_string(9 - socket);
        machine.add_usb_serial(name, socket, "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "");
        machine.add_serial_link(
            "by-path", "pci-0000:00:14.0-usb-0:" + std::to_string(socket) + ":1.0-port0", name);
    }
    machine.add_acm("ttyACM0", 10);
    machine.add_serial_link("by-path", "pci-0000:00:14.0-usb-0:10:1.0", "ttyACM0");

    const std::map<std::string, int> numbers = com_numbers(scan_serial_devices(machine.roots()));

    const std::map<std::string, int> expected{
        {"ttyS0", 0},   {"ttyS1", 2},    {"ttyS2", 0},    {"ttyS3", 1},    {"ttyUSB8", 3},
        {"ttyUSB7", 4}, {"ttyUSB6", 5},  {"ttyUSB5", 6},  {"ttyUSB4", 7},  {"ttyUSB3", 8},
        {"ttyUSB2", 9}, {"ttyUSB1", 10}, {"ttyUSB0", 11}, {"ttyACM0", 12},
    };
    EXPECT_EQ(numbers, expected);
}

TEST(LinuxPortMap, SingleUsbModemIsCom3AndDescribedWithItsIdentity) {
    FakeSystemTree machine;
    machine.add_uart(0, 0);
    machine.add_usb_serial("ttyUSB0", 2, "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART",
                           "A50285BI");
    machine.add_serial_link("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    const ScopedSystemRoot root(machine.root());
    {
        const ScopedComUnmapped com3(3);
        EXPECT_EQ(serial_device_path(2), machine.root() + "/dev/ttyUSB0");
    }
    // A port named in the environment keeps that name.
    EXPECT_EQ(serial_device_path(2), unmapped_com_path(3));

    const std::optional<SerialDeviceInfo> usb =
        com_port_device(scan_serial_devices(machine.roots()), 3);
    ASSERT_TRUE(usb.has_value());
    EXPECT_EQ(describe_device_kind(*usb),
              "USB ftdi_sio 0403:6001 \"FTDI\" \"FT232R USB UART\" serial A50285BI");
    EXPECT_EQ(usb->by_id,
              machine.root() + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
}

TEST(LinuxPortMap, PhantomAndConsoleAreRefusedWithoutBeingOpened) {
    FakeSystemTree machine;
    machine.add_uart(0, PORT_16550A);
    machine.add_uart(2, 0);
    machine.set_consoles("ttyS0");
    PtyLine phantom_line;
    PtyLine console_line;
    PtyLine modem_line;
    // The lines stand in for the devices the kernel lists under those numbers.
    machine.register_device_number(phantom_line.slave_path(), "ttyS2");
    machine.register_device_number(console_line.slave_path(), "ttyS0");
    const ScopedSystemRoot root(machine.root());
    ScopedComMapping com2(2, phantom_line.slave_path());
    ScopedComMapping com1(1, console_line.slave_path());
    ScopedComMapping com3(3, modem_line.slave_path());

    PortObject* phantom = open_windows_port(1, 9600, 'N', 8, 1);
    PortObject* console = open_windows_port(0, 9600, 'N', 8, 1);
    PortObject* modem = open_windows_port(2, 9600, 'N', 8, 1);

    EXPECT_EQ(phantom->status, PORT_E_NO_PORT);
    EXPECT_EQ(console->status, PORT_E_IN_USE);
    EXPECT_EQ(modem->status, PORT_OK);
    for (PortObject* port : {phantom, console, modem}) {
        port->close(port);
    }
}

// The adapter is found through the device number, so a link to the node names it too; a UART
// and a pseudo-terminal the kernel does not list have no adapter.
TEST(LinuxPortMap, AdapterIdentityFollowsTheNodeToItsUsbDevice) {
    FakeSystemTree machine;
    machine.add_uart(1, PORT_16550A);
    machine.add_usb_serial("ttyUSB0", 2, "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART",
                           "A50285BI");
    machine.add_serial_link("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    PtyLine adapter_line;
    PtyLine uart_line;
    PtyLine unlisted_line;
    machine.register_device_number(adapter_line.slave_path(), "ttyUSB0");
    machine.register_device_number(uart_line.slave_path(), "ttyS1");
    machine.add_dev_link("station-modem", adapter_line.slave_path());

    const AdapterIdentity adapter =
        adapter_identity(machine.root() + "/dev/station-modem", machine.roots());
    EXPECT_EQ(adapter.vendor_id, "0403");
    EXPECT_EQ(adapter.product_id, "6001");
    EXPECT_EQ(adapter.serial_number, "A50285BI");
    EXPECT_EQ(adapter.by_id, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_TRUE(adapter.is_usb());
    for (const std::string& path :
         {uart_line.slave_path(), unlisted_line.slave_path(), machine.root() + "/dev/nothing"}) {
        const AdapterIdentity none = adapter_identity(path, machine.roots());
        EXPECT_FALSE(none.is_usb()) << path;
        EXPECT_EQ(none.by_id + none.serial_number, "") << path;
    }
}

}  // namespace
