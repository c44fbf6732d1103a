#include "station/port_names.h"

#include <algorithm>

#include "port/port_discovery.h"

std::string device_named_twice(const std::vector<std::string>& ports) {
    std::vector<std::string> identities;
    for (const std::string& port : ports) {
        const std::string device = device_for_port(port);
        if (device.empty()) {
            continue;  // no device behind it (yet): that port's own failure
        }
        const std::string identity = device_identity(device);
        if (std::find(identities.begin(), identities.end(), identity) != identities.end()) {
            return device;
        }
        identities.push_back(identity);
    }
    return {};
}
