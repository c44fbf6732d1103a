#pragma once

#include <string>

// This machine's name as its network knows it (8-bit text, untrusted like any name the
// system hands out); empty when the system does not say.
std::string host_name();
