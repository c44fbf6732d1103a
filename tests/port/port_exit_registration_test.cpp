// close_all_ports is registered for process exit once, however many port objects are made.
// Its own program, so the counting registrar is in place before any port object exists.
#include <gtest/gtest.h>

#include "port/port_object.h"
#include "port/windows_driver.h"
#include "tests/port/pty_line.h"

namespace {

int registrations = 0;
void (*registered_function)() = nullptr;

int counting_registrar(void (*function)()) {
    ++registrations;
    registered_function = function;
    return 0;
}

PortObject* new_port_object() {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    return port;
}

TEST(PortExitRegistration, CloseAllPortsIsRegisteredOnceWithTheFirstObject) {
    ASSERT_EQ(registrations, 0);
    new_port_object();
    EXPECT_EQ(registrations, 1);
    EXPECT_EQ(registered_function, &close_all_ports);

    new_port_object();
    new_port_object();
    PortObject* failed_open = open_windows_port(4, 9600, 'N', 8, 1);  // COM5: no such device
    EXPECT_NE(failed_open->status, PORT_OK);
    close_all_ports();
    new_port_object();
    EXPECT_EQ(registrations, 1);

    // What was registered empties the list.
    registered_function();
    EXPECT_EQ(open_port_list_head(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    set_port_exit_registrar(counting_registrar);
    setenv("KORVAN_COM5", unmapped_com_path(5).c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
