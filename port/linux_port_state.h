#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port/linux_port_map.h"
#include "port/port_use.h"

// Why a serial device can or cannot be used right now, in words for the user.

struct PortHolder {
    std::string name;  // the program's name as the kernel keeps it
    int pid = 0;
};

struct PortState {
    PortUse use = PortUse::free;
    // in_use: who has it open, when that can be seen: the lock holder first, at most
    // MAX_NAMED_HOLDERS.
    std::vector<PortHolder> holders;
    std::string group;  // no_permission: the group that owns the device
};

inline constexpr std::size_t MAX_NAMED_HOLDERS = 3;

// The other processes with the device open, found through <proc>/<pid>/fd: the one holding
// its lock (flock, as <proc>/locks shows it) first, then the rest in pid order, at most
// MAX_NAMED_HOLDERS. Only processes the caller may look into are seen (all of them as
// root); a process that ends during the search is passed over.
std::vector<PortHolder> find_port_holders(const std::string& path, const SystemRoots& roots);

// Why opening path was refused: the console, no permission, or in use (by whom if known).
PortState diagnose_refused_open(const std::string& path, const SystemRoots& roots);

// The state of a device for a listing. May open the device for a moment to see whether
// another program holds it exclusively; never opens a phantom UART or the console.
PortState probe_port_state(const std::string& path, const SystemRoots& roots);

// "free", "in use by ModemManager (pid 812)", "in use by ModemManager (pid 812) and minicom
// (pid 900)", "no permission to open it (add yourself to
// the 'dialout' group)", ...
std::string describe_port_state(const PortState& state);
