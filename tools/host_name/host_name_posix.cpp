#include "tools/host_name/host_name.h"

#include <unistd.h>

#include <array>

std::string host_name() {
    // POSIX leaves a truncated name unterminated: the last byte is kept a zero.
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return name.data();
}
