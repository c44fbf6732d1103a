#include <windows.h>

#include <algorithm>
#include <cctype>

#include "tools/download_cli/console_platform.h"

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

}  // namespace

bool stdout_is_terminal() {
    return is_console(STD_OUTPUT_HANDLE);
}

bool stdin_is_terminal() {
    return is_console(STD_INPUT_HANDLE);
}

void wait_briefly_for_input() {
    Sleep(1);
}

bool map_com1_to_device(const std::string& device, std::string& error) {
    // Windows names its serial devices itself and the serial layer opens \\.\COMn as it
    // is, so there is nothing to redirect: only COM1 can stand for COM1.
    const std::string name = upper_case(device);
    if (name == "COM1" || name == "\\\\.\\COM1") {
        return true;
    }
    error = "on Windows only COM1 can be named; without --port COM1 to COM9 are searched";
    return false;
}
