#include "tools/host_name/host_name.h"

#include <windows.h>

#include <array>

std::string host_name() {
    // The DNS host name, as a Linux station reports it, in the system's 8-bit code page.
    std::array<char, 256> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!GetComputerNameExA(ComputerNameDnsHostname, name.data(), &size)) {
        return {};
    }
    return std::string(name.data(), size);
}
