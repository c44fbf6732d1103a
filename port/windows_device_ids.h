#pragma once

#include <string>
#include <string_view>

// What Windows' device ids say of a USB serial adapter. A device's hardware id names its
// make ("USB\VID_0403&PID_6001&REV_0600", "FTDIBUS\COMPORT&VID_0403&PID_6001"); its instance
// id names the one device, and for a USB device with a serial number it ends in that number
// ("USB\VID_0403&PID_6001\A50285BI"). Without a serial number Windows makes up an instance
// part of its own ("USB\VID_1A86&PID_7523\5&2F1B3C6E&0&2"), which names no adapter.
struct WindowsUsbIds {
    std::string vendor_id;      // four lower-case hex digits, as Linux shows them
    std::string product_id;     // likewise
    std::string serial_number;  // the adapter's own serial number, or empty
};

// The vendor and product id in a hardware or instance id; empty when it has none.
WindowsUsbIds usb_ids_in_device_id(std::string_view device_id);

// The ids and the serial number a device's instance id carries. Knows the USB bus's form and
// the FTDI driver's ("FTDIBUS\VID_0403+PID_6001+A50285BIA\0000": the serial number followed
// by the chip's port letter).
WindowsUsbIds usb_ids_in_instance_id(std::string_view instance_id);
