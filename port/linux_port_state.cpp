#include "port/linux_port_state.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

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
    std::error_code error;
    for (const fs::directory_entry& fd : fs::directory_iterator(process / "fd", error)) {
        std::error_code link_error;
        if (fs::read_symlink(fd.path(), link_error).string() == target) {
            return true;
        }
    }
    return false;
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
    state.holder = find_port_holder(path, roots);
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

}  // namespace

std::optional<PortHolder> find_port_holder(const std::string& path, const SystemRoots& roots) {
    std::error_code error;
    const fs::path device = fs::canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    const std::string own_pid = std::to_string(getpid());
    for (const fs::directory_entry& process : fs::directory_iterator(roots.proc, error)) {
        const std::string pid = process.path().filename().string();
        if (all_digits(pid) && pid != own_pid && holds(process.path(), device.string())) {
            return PortHolder{program_name(process.path()), std::stoi(pid)};
        }
    }
    return std::nullopt;
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
    if (std::optional<PortHolder> holder = find_port_holder(path, roots)) {
        PortState state = state_of(PortUse::in_use);
        state.holder = holder;
        return state;
    }
    return try_exclusive_open(path, roots);
}

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

std::string describe_port_state(const PortState& state) {
    switch (state.use) {
        case PortUse::free:
            return "free";
        case PortUse::in_use:
            return state.holder ? "in use by " + state.holder->name + " (pid " +
                                      std::to_string(state.holder->pid) + ")"
                                : "in use by another program";
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
