// Port naming and error numbers of the POSIX device layer, and the driver's mapping of
// them to port statuses.
#include "port/serial_device_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "port/windows_driver.h"
#include "tests/port/pty_line.h"

namespace {

TEST(SerialDevicePath, MappedPortUsesTheEnvironmentEvenWhenEmpty) {
    ScopedComMapping com3(3, "/tmp/modem-line");
    EXPECT_EQ(serial_device_path(2), "/tmp/modem-line");

    ScopedComMapping empty(4, "");
    EXPECT_EQ(serial_device_path(3), "");
}

TEST(SerialDeviceErrors, ErrnoMapsByConditionToPortStatus) {
    const std::vector<std::pair<int, PortStatus>> cases{
        {ENOENT, PORT_E_NO_PORT},     {ENODEV, PORT_E_NO_PORT},   {ENXIO, PORT_E_NO_PORT},
        {EBUSY, PORT_E_IN_USE},       {EACCES, PORT_E_IN_USE},    {EPERM, PORT_E_IN_USE},
        {EWOULDBLOCK, PORT_E_IN_USE}, {ENOMEM, PORT_E_NO_MEMORY}, {EIO, PORT_E_FAILED},
        {ENOTTY, PORT_E_FAILED},      {EINVAL, PORT_E_FAILED},
    };
    for (const auto& [error, status] : cases) {
        SCOPED_TRACE(error);
        serial_set_last_error(serial_error_from_errno(error));
        EXPECT_EQ(map_platform_error(), status);
    }
}

TEST(SerialDeviceErrors, PlatformErrorTable) {
    const std::vector<std::pair<std::int32_t, PortStatus>> cases{
        {2, PORT_E_NO_PORT},   {3, PORT_E_NO_PORT},         {5, PORT_E_IN_USE},
        {-1, PORT_E_BAD_PORT}, {-2, PORT_E_IN_USE},         {-4, PORT_E_NO_MEMORY},
        {-10, PORT_E_NO_PORT}, {-11, PORT_E_BAD_DATA_BITS}, {-12, PORT_E_BAD_BAUD},
        {0, PORT_E_FAILED},    {-3, PORT_E_FAILED},         {50, PORT_E_FAILED},
        {997, PORT_E_FAILED},
    };
    for (const auto& [error, status] : cases) {
        SCOPED_TRACE(error);
        serial_set_last_error(error);
        EXPECT_EQ(map_platform_error(), status);
    }
}

}  // namespace
