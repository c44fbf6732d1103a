#pragma once

#include <cstdint>
#include <string>

#include "port/port_object.h"
#include "port/serial_device.h"

// Queue sizes requested from the device at every open.
extern std::int32_t port_rx_queue_size;
extern std::uint32_t port_tx_queue_size;

// The driver kind a port object carries once this driver attached its record.
inline constexpr std::int32_t WINDOWS_DRIVER_KIND = 15;

// The serial driver's private record, attached to the port object as its driver.
struct WindowsDriverRecord {
    std::int32_t rx_queue_size;
    std::uint32_t tx_queue_size;
    SerialSettings dcb;  // the driver's copy of the device settings
    std::uint32_t line_error_flags;
    std::uint32_t saved_event_mask;
    std::uint32_t uart_8250_word;
    SerialHandle handle;
    SerialTimeouts saved_timeouts;
    SerialIoBlock io_block;
};

// Opens COM(index + 1), or device when one is given, with the given line format. Never
// returns nullptr: the caller looks at status (PORT_OK: open and set up) and owns the object
// either way.
PortObject* open_windows_port(int index, int baud, char parity, int data_bits, int stop_bits,
                              const std::string& device = {});

// Opens the device and sets up the driver record; the open's steps after allocation.
PortStatus open_windows_device(PortObject* port, int index, const std::string& device = {});

// Changes only the device's line speed, without any check; status and dcb stay as they are.
PortStatus set_baud_rate(PortObject* port, int baud);

// The platform's last error as a PortStatus.
PortStatus map_platform_error();
