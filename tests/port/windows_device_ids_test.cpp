// The adapter identity in Windows' device ids, as real drivers write them.
#include "port/windows_device_ids.h"

#include <gtest/gtest.h>

namespace {

void expect_ids(const WindowsUsbIds& ids, const std::string& vendor, const std::string& product,
                const std::string& serial) {
    EXPECT_EQ(ids.vendor_id, vendor);
    EXPECT_EQ(ids.product_id, product);
    EXPECT_EQ(ids.serial_number, serial);
}

TEST(WindowsDeviceIdsTest, InstanceIdsGiveTheAdaptersOwnSerialNumberOnly) {
    // A USB device with a serial number, ids in Windows' upper case shown as Linux shows them.
    expect_ids(usb_ids_in_instance_id("USB\\VID_10C4&PID_EA60\\0001A7F3"), "10c4", "ea60",
               "0001A7F3");
    // Without one, Windows makes up the instance part: it names no adapter.
    expect_ids(usb_ids_in_instance_id("USB\\VID_1A86&PID_7523\\5&2F1B3C6E&0&2"), "1a86", "7523",
               "");
    // One interface of a composite device: the number is its parent's, not this part.
    expect_ids(usb_ids_in_instance_id("USB\\VID_2C7C&PID_0125&MI_02\\6&1E0A4C3F&0&0002"), "2c7c",
               "0125", "");
    // The FTDI driver's own bus: the serial number followed by the chip's port letter.
    expect_ids(usb_ids_in_instance_id("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"), "0403", "6001",
               "A50285BI");
    // Not USB at all.
    expect_ids(usb_ids_in_instance_id("ACPI\\PNP0501\\1"), "", "", "");
    expect_ids(usb_ids_in_instance_id("PCI\\VEN_1415&DEV_C158&SUBSYS_00011415\\4&1B2C&0&00E0"), "",
               "", "");
}

TEST(WindowsDeviceIdsTest, HardwareIdsGiveTheMakeWhereverTheFieldsStand) {
    expect_ids(usb_ids_in_device_id("FTDIBUS\\COMPORT&VID_0403&PID_6015"), "0403", "6015", "");
    expect_ids(usb_ids_in_device_id("USB\\VID_2341&PID_0043&REV_0001"), "2341", "0043", "");
    // A field that only looks like one (five digits, or inside another word) is no id.
    expect_ids(usb_ids_in_device_id("USB\\VID_123456&PID_0043"), "", "", "");
    expect_ids(usb_ids_in_device_id("BTHENUM\\XVID_0001&PID_0002"), "", "", "");
}

}  // namespace
