#include <windows.h>

#include <algorithm>
#include <string>

#include "station/child_process.h"

namespace {

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

bool can_start_program(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "cannot find the download program: this program's own folder is unknown";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "cannot start " + path + " (error " +
                std::to_string(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                     : ERROR_ACCESS_DENIED) +
                ")";
        return false;
    }
    return true;
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
    // Anonymous pipes cannot be waited on: look every few milliseconds. An interrupt does
    // not end the wait: the host looks at it after the step, a fraction of a second later.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    while (true) {
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
