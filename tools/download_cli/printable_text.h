#pragma once

#include <string>
#include <string_view>

// Text from outside (a modem's answer, a file name) as a terminal may show it: every byte
// outside printable ASCII becomes \xHH, so no answer can move the cursor or retitle the
// terminal.
std::string printable_text(std::string_view text);
