#pragma once

#include <string>
#include <string_view>

// Text from outside the program (a modem's answer, a USB device's strings, another
// process's name, a file name) as it may be shown on a terminal: printable ASCII stays as
// it is, every other byte becomes \xNN, so no byte of it can move the cursor, retitle or
// clear the terminal. Text already shown so stays the same when shown again.
std::string printable(std::string_view text);
