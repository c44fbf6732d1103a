#include "port/port_use.h"

std::string port_use_name(PortUse use) {
    switch (use) {
        case PortUse::free:
            return "free";
        case PortUse::in_use:
            return "in_use";
        case PortUse::no_permission:
            return "no_permission";
        case PortUse::missing:
            return "missing";
        case PortUse::phantom:
            return "phantom";
        case PortUse::console:
            return "console";
        case PortUse::unusable:
            break;
    }
    return "unusable";
}
