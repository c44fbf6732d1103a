#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "port/linux_port_map.h"
#include "port/linux_port_state.h"
#include "port/serial_device_posix.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/port_listing.h"

extern char** environ;

namespace {

// The signals an operator, a terminal or a service manager ends a program with.
constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t aborted = 0;
volatile std::sig_atomic_t second_ctrl_c_ends_program = 0;
bool interrupts_ignored = false;

void note_interrupt(int signal_number) {
    if (interrupted == 0 || signal_number != SIGINT) {
        interrupted = 1;
    } else if (second_ctrl_c_ends_program != 0) {
        // Ends as an interrupted program does, so the shell sees what happened.
        ::signal(SIGINT, SIG_DFL);
        raise(SIGINT);
    } else {
        aborted = 1;
    }
}

void set_interrupt_action(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads and writes on the serial line carry on; a poll or sleep the signal ends early
    // is one the port layer waits out again.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : INTERRUPTS) {
        sigaction(signal_number, &action, nullptr);
    }
}

sigset_t interrupt_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : INTERRUPTS) {
        sigaddset(&set, signal_number);
    }
    return set;
}

class PosixChild final : public ChildProcess {
  public:
    PosixChild(pid_t pid, int output) : pid_(pid), output_(output) {}
    ~PosixChild() override {
        close_output();
        wait_for_exit();
    }

    bool read_output(std::string& text) override {
        while (output_ >= 0) {
            char chunk[4096];
            const ssize_t got = read(output_, chunk, sizeof chunk);
            if (got > 0) {
                text.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && errno == EAGAIN) {
                return true;
            }
            close_output();
        }
        return false;
    }

    ChildExit wait_for_exit() override {
        if (pid_ > 0) {
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            exit_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            exit_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            pid_ = -1;
        }
        return exit_;
    }

    void kill() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
        }
    }

    int output() const { return output_; }

  private:
    void close_output() {
        if (output_ >= 0) {
            close(output_);
            output_ = -1;
        }
    }

    pid_t pid_;
    int output_;
    ChildExit exit_;
};

constexpr int HIGHEST_SEARCHED_COM = 9;
constexpr int HIGHEST_COM_NUMBER = 256;

// A COM name COM1..COM256 as its 0-based index; -1 for anything else.
int com_index(const std::string& port) {
    if (port.size() < 4 || port.size() > 6 || port.compare(0, 3, "COM") != 0 || port[3] == '0') {
        return -1;
    }
    int number = 0;
    for (std::size_t at = 3; at < port.size(); ++at) {
        if (port[at] < '0' || port[at] > '9') {
            return -1;
        }
        number = number * 10 + (port[at] - '0');
    }
    return number <= HIGHEST_COM_NUMBER ? number - 1 : -1;
}

// What the serial layer opens for COM<number>, from one scan of the machine's devices.
std::string mapped_device(const std::vector<SerialDeviceInfo>& devices, int number) {
    if (std::optional<std::string> mapped = com_port_setting(number)) {
        return *mapped;
    }
    const std::optional<SerialDeviceInfo> device = com_port_device(devices, number);
    return device ? device->path : std::string();
}

}  // namespace

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal() {
    return isatty(STDIN_FILENO) == 1;
}

std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string&) {
    // A COM name stands for the device the serial layer maps it to; anything else is a path.
    if (const int index = com_index(device); index >= 0) {
        return PortTableEntry{index, device};
    }
    return PortTableEntry{0, device, device};
}

std::string searched_port_device(const PortTableEntry& port) {
    return port.device.empty() ? serial_device_path(port.index) : port.device;
}

std::string describe_refused_port(const PortTableEntry& port, PortStatus status) {
    const std::string path = searched_port_device(port);
    if (path.empty()) {
        return port.name + ": no device";
    }
    const std::string label = (port.name == path ? path : port.name + " (" + path + ")") + ": ";
    if (status == PORT_E_IN_USE) {
        return label + describe_port_state(diagnose_refused_open(path, system_roots()));
    }
    if (status == PORT_E_NO_PORT) {
        // The serial layer refuses a UART line with no hardware behind it as missing too.
        const std::optional<TtyIdentity> tty = identify_tty(path, system_roots());
        PortState state;
        state.use = tty && tty->phantom ? PortUse::phantom : PortUse::missing;
        return label + describe_port_state(state);
    }
    return label + "cannot be opened (error " + std::to_string(status) + ")";
}

std::string describe_busy_device(const std::string& device) {
    return describe_port_state(diagnose_refused_open(device, system_roots()));
}

int list_serial_ports(std::ostream& out, bool json, const std::vector<PortFilter>& filters) {
    write_filtered_port_listing(out, std::cerr, gather_port_rows(), json, filters);
    return 0;
}

std::unique_ptr<ChildProcess> start_child_process(const std::vector<std::string>& arguments,
                                                  std::string& error) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own: the terminal's Ctrl-C reaches the parent only.
    posix_spawnattr_setpgroup(&attributes, 0);
    // The interrupts arrive blocked until the child ignores them (ignore_interrupts): a
    // service manager's stop reaches every process of the station, and one that came
    // before the child's first instruction must not end it either.
    const sigset_t interrupts = interrupt_set();
    posix_spawnattr_setsigdefault(&attributes, &interrupts);
    posix_spawnattr_setsigmask(&attributes, &interrupts);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipe_ends[1]);
    if (spawned != 0) {
        close(pipe_ends[0]);
        error = std::strerror(spawned);
        return nullptr;
    }
    fcntl(pipe_ends[0], F_SETFL, fcntl(pipe_ends[0], F_GETFL) | O_NONBLOCK);
    return std::make_unique<PosixChild>(pid, pipe_ends[0]);
}

void wait_for_child_output(const std::vector<ChildProcess*>& children, int timeout_ms) {
    std::vector<pollfd> watched;
    for (ChildProcess* child : children) {
        const int output = static_cast<PosixChild*>(child)->output();
        if (output >= 0) {
            watched.push_back({output, POLLIN, 0});
        }
    }
    // An interrupt ends the poll early (EINTR); the caller looks at the flag.
    poll(watched.data(), watched.size(), timeout_ms);
}

std::string own_program_path() {
    // Still the program this process runs after its file was replaced or removed; its
    // path would start the new one, or nothing.
    return "/proc/self/exe";
}

void keep_running_when_output_closes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void defer_interrupts(SecondCtrlC second) {
    if (interrupts_ignored) {
        return;
    }
    second_ctrl_c_ends_program = second == SecondCtrlC::ends_program ? 1 : 0;
    set_interrupt_action(note_interrupt);
}

void ignore_interrupts() {
    interrupts_ignored = true;
    set_interrupt_action(SIG_IGN);
    // Ignored now, so one that came while they were blocked (from the start) is dropped.
    const sigset_t interrupts = interrupt_set();
    sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}

bool interrupt_requested() {
    return interrupted != 0;
}

bool abort_requested() {
    return aborted != 0;
}

int terminal_columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void enable_terminal_sequences() {}

std::vector<SerialPortName> find_serial_ports(std::vector<std::string>& left_out) {
    std::vector<SerialPortName> found;
    const std::vector<SerialDeviceInfo> devices = scan_serial_devices(system_roots());
    int highest = HIGHEST_SEARCHED_COM;
    for (const SerialDeviceInfo& device : devices) {
        highest = std::max(highest, device.com_number);
    }
    for (int number = 1; number <= highest; ++number) {
        const std::string device = mapped_device(devices, number);
        if (device_is_present(device)) {
            found.push_back({"COM" + std::to_string(number), device});
        }
    }
    // A device whose number the environment gave to another path is not reached by any
    // COM name.
    for (const SerialDeviceInfo& device : devices) {
        const bool reached =
            std::any_of(found.begin(), found.end(), [&](const SerialPortName& port) {
                return device_identity(port.device) == device_identity(device.path);
            });
        if (device.com_number > 0 && !reached && device_is_present(device.path)) {
            left_out.push_back(device.path + ": its number COM" +
                               std::to_string(device.com_number) + " is set by KORVAN_COM" +
                               std::to_string(device.com_number));
        }
    }
    return found;
}

std::string device_for_port(const std::string& port) {
    const int index = com_index(port);
    return index < 0 ? port : serial_device_path(index);
}

std::string device_identity(const std::string& device) {
    struct stat node {};
    if (device.empty() || stat(device.c_str(), &node) != 0) {
        return "name:" + device;
    }
    if (S_ISCHR(node.st_mode)) {
        return "char:" + std::to_string(major(node.st_rdev)) + ":" +
               std::to_string(minor(node.st_rdev));
    }
    return "file:" + std::to_string(node.st_dev) + ":" + std::to_string(node.st_ino);
}

// As root, a link is followed only into a file its own owner owns (or when root made the
// link): otherwise any user who may write the directory could point it at /etc/shadow and
// have the run overwrite it. The link's owner stands for the user, as with the kernel's
// protected_symlinks.
bool device_is_present(const std::string& device) {
    struct stat info {};
    return !device.empty() && stat(device.c_str(), &info) == 0;
}
