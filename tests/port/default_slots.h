#pragma once

#include <cstddef>
#include <cstring>

#include "port/port_object.h"

// The slot table a fresh port object gets, for comparing against other objects.
inline PortObject fresh_port_object_copy() {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    PortObject copy = *port;
    release_port_object(port);
    return copy;
}

// True when every one of the 24 slots of port holds its default.
inline bool has_default_slots(const PortObject& port) {
    static const PortObject reference = fresh_port_object_copy();
    constexpr std::size_t first = offsetof(PortObject, read_char);
    return std::memcmp(reinterpret_cast<const char*>(&port) + first,
                       reinterpret_cast<const char*>(&reference) + first,
                       sizeof(PortObject) - first) == 0;
}
