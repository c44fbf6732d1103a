#pragma once

#include <cstdint>

// Linux's arbitrary-rate interface (termios2 with BOTHER). It lives in its own translation
// unit because the kernel header it needs clashes with <termios.h>. Both return false with
// errno set when the device refuses.

// Sets input and output speed of the terminal fd to rate bits per second, leaving every
// other setting as it is.
bool set_custom_line_rate(int fd, std::uint32_t rate);

// The terminal's actual output speed in bits per second, whatever way it was set.
bool get_line_rate(int fd, std::uint32_t* rate);
