#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>

#include "port/windows_com_ports.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/windows_port_listing.h"

namespace {

// A console window, not a pipe or a file (the C runtime's isatty also says yes to NUL).
bool is_console(DWORD standard_handle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standard_handle), &mode) != FALSE;
}

std::string upper_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

volatile LONG interrupted = 0;
volatile LONG aborted = 0;
volatile LONG second_ctrl_c_ends_program = 0;
bool interrupts_ignored = false;

bool is_set(volatile LONG& flag) {
    return InterlockedCompareExchange(&flag, 0, 0) != 0;
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI note_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (!is_set(interrupted) || event != CTRL_C_EVENT) {
        InterlockedExchange(&interrupted, 1);
        return TRUE;
    }
    if (is_set(second_ctrl_c_ends_program)) {
        return FALSE;  // the default handler ends the process
    }
    InterlockedExchange(&aborted, 1);
    return TRUE;
}

// One argument as the C runtime's command-line parser reads it back.
std::string quoted_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

class Win32Child final : public ChildProcess {
  public:
    Win32Child(HANDLE process, HANDLE output) : process_(process), output_(output) {}
    ~Win32Child() override {
        close_output();
        wait_for_exit();
        CloseHandle(process_);
    }

    bool read_output(std::string& text) override {
        while (output_ != nullptr) {
            DWORD waiting = 0;
            if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr)) {
                close_output();  // the child's end is closed: it has exited
                break;
            }
            if (waiting == 0) {
                return true;
            }
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(output_, chunk, std::min<DWORD>(waiting, sizeof chunk), &got, nullptr)) {
                close_output();
                break;
            }
            text.append(chunk, got);
        }
        return false;
    }

    ChildExit wait_for_exit() override {
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        ChildExit exit;
        exit.status = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
        return exit;
    }

    void kill() override { TerminateProcess(process_, 1); }

    bool has_output_or_ended() const {
        DWORD waiting = 0;
        return output_ == nullptr ||
               !PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0;
    }

  private:
    void close_output() {
        if (output_ != nullptr) {
            CloseHandle(output_);
            output_ = nullptr;
        }
    }

    HANDLE process_;
    HANDLE output_;
};

}  // namespace

bool stdout_is_terminal() {
    return is_console(STD_OUTPUT_HANDLE);
}

bool stdin_is_terminal() {
    return is_console(STD_INPUT_HANDLE);
}

std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error) {
    // Windows names its serial devices itself and the serial layer opens \\.\COMn as it
    // is, so the device must be one of those names: COMn or \\.\COMn.
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    if (name.size() > 3 && name.size() <= 6 && name.rfind("COM", 0) == 0 &&
        std::all_of(name.begin() + 3, name.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; })) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1 && number <= 256) {
            return PortTableEntry{number - 1, "COM" + std::to_string(number)};
        }
    }
    error = "expected a serial port name COM1 to COM256";
    return std::nullopt;
}

std::string searched_port_device(const PortTableEntry& port) {
    if (!port.device.empty()) {
        return port.device;
    }
    const std::string name = "COM" + std::to_string(port.index + 1);
    return device_is_present(name) ? "\\\\.\\" + name : std::string();
}

std::string describe_refused_port(const PortTableEntry& port, PortStatus status) {
    const std::string device = searched_port_device(port);
    const std::string label =
        device.empty() || device == port.name ? port.name : port.name + " (" + device + ")";
    if (status == PORT_E_IN_USE) {
        return label + ": in use by another program";
    }
    if (status == PORT_E_NO_PORT) {
        return label + ": no such device";
    }
    return label + ": cannot be opened (error " + std::to_string(status) + ")";
}

std::string describe_busy_device(const std::string&) {
    return "in use by another program";
}

int list_serial_ports(std::ostream& out, bool json) {
    write_windows_port_listing(out, list_windows_ports(), json);
    return 0;
}

std::unique_ptr<ChildProcess> start_child_process(const std::vector<std::string>& arguments,
                                                  std::string& error) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
        error = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr);

    std::string command_line;
    for (const std::string& argument : arguments) {
        if (!command_line.empty()) {
            command_line.push_back(' ');
        }
        command_line.append(quoted_argument(argument));
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    // Without the console, neither Ctrl-C, Ctrl-Break nor closing the console window reach
    // the child: it finishes its download, and leaves its report line, whatever happens to
    // the station.
    const BOOL started = CreateProcessA(arguments[0].c_str(), command_line.data(), nullptr, nullptr,
                                        TRUE, CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS, nullptr,
                                        nullptr, &startup, &process);
    const DWORD start_error = GetLastError();
    CloseHandle(write_end);
    if (nothing != INVALID_HANDLE_VALUE) {
        CloseHandle(nothing);
    }
    if (!started) {
        CloseHandle(read_end);
        error = "cannot start " + arguments[0] + " (error " + std::to_string(start_error) + ")";
        return nullptr;
    }
    CloseHandle(process.hThread);
    return std::make_unique<Win32Child>(process.hProcess, read_end);
}

void wait_for_child_output(const std::vector<ChildProcess*>& children, int timeout_ms) {
    // Anonymous pipes cannot be waited on: look every few milliseconds.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    // Only an interrupt that arrives now ends the wait early: one noted before must not
    // turn the wait into a spin while the downloads finish.
    const bool interrupted_before = interrupt_requested();
    const bool aborted_before = abort_requested();
    while (interrupt_requested() == interrupted_before && abort_requested() == aborted_before) {
        for (ChildProcess* child : children) {
            if (static_cast<Win32Child*>(child)->has_output_or_ended()) {
                return;
            }
        }
        if (GetTickCount64() >= deadline) {
            return;
        }
        Sleep(5);
    }
}

std::string own_program_path() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

void keep_running_when_output_closes() {
    // A write to a closed pipe fails without ending the process here.
}

void defer_interrupts(SecondCtrlC second) {
    if (interrupts_ignored) {
        return;
    }
    InterlockedExchange(&second_ctrl_c_ends_program, second == SecondCtrlC::ends_program ? 1 : 0);
    SetConsoleCtrlHandler(note_interrupt, TRUE);
}

void ignore_interrupts() {
    interrupts_ignored = true;
    SetConsoleCtrlHandler(nullptr, TRUE);
}

bool interrupt_requested() {
    return is_set(interrupted);
}

bool abort_requested() {
    return is_set(aborted);
}

int terminal_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void enable_terminal_sequences() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

std::vector<SerialPortName> find_serial_ports(std::vector<std::string>&) {
    // The ports Windows has registered are the ones that exist: COM1..COM9 and beyond.
    std::vector<SerialPortName> found;
    for (const RegisteredComPort& port : registered_com_ports()) {
        found.push_back({port.name, port.name});
    }
    return found;
}

std::string device_for_port(const std::string& port) {
    return upper_case(port);
}

std::string device_identity(const std::string& device) {
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    return name;
}

bool device_is_present(const std::string& device) {
    std::string name = upper_case(device);
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    char target[1024];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}
