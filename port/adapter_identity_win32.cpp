#include "port/adapter_identity.h"

// Windows keeps a COM port's USB ids and serial number with its device node, reached through
// SetupAPI; that lookup is being added. Until then no port has a known adapter, so a USB
// filter keeps none and a report names none.
AdapterIdentity adapter_identity(const std::string&) {
    return {};
}
