#include "port/linux_port_state.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "port/directory_entries.h"

namespace fs = std::filesystem;

namespace {

bool all_digits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string program_name(const fs::path& process) {
    std::ifstream in(process / "comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "an unnamed program" : name;
}

bool holds(const fs::path& process, const std::string& target) {
    bool found = false;
    for_each_directory_entry(process / "fd", [&](const fs::directory_entry& fd) {
        std::error_code link_error;
        found = found || fs::read_symlink(fd.path(), link_error).string() == target;
    });
    return found;
}

// The pids holding a lock on the file (flock or POSIX, as <proc>/locks lists them by the
// device and inode of the file): the holder of a serial port's lock is the one using it.
std::vector<int> lock_holders(const std::string& path, const SystemRoots& roots) {
    std::vector<int> pids;
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        return pids;
    }
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    std::ifstream locks(fs::path(roots.proc) / "locks");
    for (std::string line; std::getline(locks, line);) {
        // "1: FLOCK  ADVISORY  WRITE 812 00:19:5 0 EOF"; a waiter's line has "->" after "1:".
        std::istringstream fields(line);
        std::string number, type, mode, access, pid, file;
        if (fields >> number >> type >> mode >> access >> pid >> file && type != "->" &&
            file == wanted && all_digits(pid)) {
            pids.push_back(std::stoi(pid));
        }
    }
    return pids;
}

bool has_pid(const std::vector<int>& pids, int pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

std::string group_owning(const std::string& path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        return {};
    }
    const group* owner = getgrgid(node.st_gid);
    return owner != nullptr ? owner->gr_name : std::to_string(node.st_gid);
}

PortState state_of(PortUse use) {
    PortState state;
    state.use = use;
    return state;
}

PortState no_permission(const std::string& path) {
    PortState state = state_of(PortUse::no_permission);
    state.group = group_owning(path);
    return state;
}

PortState in_use(const std::string& path, const SystemRoots& roots) {
    PortState state = state_of(PortUse::in_use);
    state.holders = find_port_holders(path, roots);
    return state;
}

// Opens the device as the search would and gives it back at once.
PortState try_exclusive_open(const std::string& path, const SystemRoots& roots) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            return no_permission(path);
        }
        if (errno == EBUSY) {
            return in_use(path, roots);
        }
        return state_of(errno == ENOENT || errno == ENXIO || errno == ENODEV ? PortUse::missing
                                                                             : PortUse::unusable);
    }
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return locked ? state_of(PortUse::free) : in_use(path, roots);
}

// "ModemManager (pid 812)", "A (pid 1) and B (pid 2)", "A (pid 1), B (pid 2) and C (pid 3)"
std::string holder_names(const std::vector<PortHolder>& holders) {
    std::string names;
    for (std::size_t index = 0; index < holders.size(); ++index) {
        if (index > 0) {
            names += index + 1 == holders.size() ? " and " : ", ";
        }
        names += holders[index].name + " (pid " + std::to_string(holders[index].pid) + ")";
    }
    return names;
}

}  // namespace

std::vector<PortHolder> find_port_holders(const std::string& path, const SystemRoots& roots) {
    std::error_code error;
    const fs::path device = fs::canonical(path, error);
    if (error) {
        return {};
    }
    const int own_pid = getpid();
    std::vector<PortHolder> holders;
    for_each_directory_entry(roots.proc, [&](const fs::directory_entry& process) {
        const std::string pid = process.path().filename().string();
        if (all_digits(pid) && pid.size() < 10 && std::stoi(pid) != own_pid &&
            holds(process.path(), device.string())) {
            holders.push_back(PortHolder{program_name(process.path()), std::stoi(pid)});
        }
    });
    const std::vector<int> locking = lock_holders(device.string(), roots);
    for (const int pid : locking) {
        // A lock holder whose descriptors the caller may not look into is still named.
        const fs::path process = fs::path(roots.proc) / std::to_string(pid);
        const bool listed =
            std::any_of(holders.begin(), holders.end(),
                        [pid](const PortHolder& holder) { return holder.pid == pid; });
        if (!listed && pid != own_pid && fs::exists(process, error)) {
            holders.push_back(PortHolder{program_name(process), pid});
        }
    }
    // The lock holder first, then the others by pid (a directory lists them in no order).
    std::sort(holders.begin(), holders.end(), [&](const PortHolder& a, const PortHolder& b) {
        const bool a_locks = has_pid(locking, a.pid);
        const bool b_locks = has_pid(locking, b.pid);
        return a_locks != b_locks ? a_locks : a.pid < b.pid;
    });
    if (holders.size() > MAX_NAMED_HOLDERS) {
        holders.resize(MAX_NAMED_HOLDERS);
    }
    return holders;
}

PortState diagnose_refused_open(const std::string& path, const SystemRoots& roots) {
    if (const std::optional<TtyIdentity> tty = identify_tty(path, roots); tty && tty->console) {
        return state_of(PortUse::console);
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        return errno == ENOENT ? state_of(PortUse::missing) : no_permission(path);
    }
    return in_use(path, roots);
}

PortState probe_port_state(const std::string& path, const SystemRoots& roots) {
    if (const std::optional<TtyIdentity> tty = identify_tty(path, roots); tty) {
        if (tty->console) {
            return state_of(PortUse::console);
        }
        if (tty->phantom) {
            return state_of(PortUse::phantom);
        }
    }
    if (access(path.c_str(), F_OK) != 0) {
        return state_of(PortUse::missing);
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        return no_permission(path);
    }
    if (std::vector<PortHolder> holders = find_port_holders(path, roots); !holders.empty()) {
        PortState state = state_of(PortUse::in_use);
        state.holders = std::move(holders);
        return state;
    }
    return try_exclusive_open(path, roots);
}

std::string describe_port_state(const PortState& state) {
    switch (state.use) {
        case PortUse::free:
            return "free";
        case PortUse::in_use:
            return state.holders.empty() ? "in use by another program"
                                         : "in use by " + holder_names(state.holders);
        case PortUse::no_permission:
            return state.group.empty() ? "no permission to open it"
                                       : "no permission to open it (add yourself to the '" +
                                             state.group + "' group)";
        case PortUse::missing:
            return "no such device";
        case PortUse::phantom:
            return "phantom: no UART behind it";
        case PortUse::console:
            return "the kernel console";
        case PortUse::unusable:
            break;
    }
    return "cannot be opened";
}
