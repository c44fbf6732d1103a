#pragma once

#include <string>
#include <vector>

// The first device two of the ports lead to, if any, also under two names (a by-id link
// and its target): two downloads on one line would garble each other. Empty when every
// port leads to a device of its own or to none yet.
std::string device_named_twice(const std::vector<std::string>& ports);
