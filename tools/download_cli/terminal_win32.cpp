#include <windows.h>

#include "tools/download_cli/terminal.h"

namespace {

// A console window, not a pipe or a file (the C runtime's isatty also says yes to NUL).
bool is_console(DWORD standard_handle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standard_handle), &mode) != FALSE;
}

}  // namespace

bool stdout_is_terminal() {
    return is_console(STD_OUTPUT_HANDLE);
}

bool stdin_is_terminal() {
    return is_console(STD_INPUT_HANDLE);
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

std::string own_program_path() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

void keep_running_when_output_closes() {
    // A write to a closed pipe fails without ending the process here.
}
