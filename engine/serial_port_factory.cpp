// Kept apart from the sequencer so that programs and tests that bring their own factory do
// not need the serial driver linked in.
#include "engine/download_sequencer.h"
#include "port/windows_driver.h"

PortFactory serial_port_factory() {
    return PortFactory{open_windows_port, set_baud_rate};
}
