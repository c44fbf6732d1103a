#include "ui/win32/command_line_text.h"

#include <windows.h>

void show_command_line_text(const std::string& text, bool is_error, const char* caption) {
    if (text.empty()) {
        return;
    }
    HANDLE handle = GetStdHandle(is_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
        GetFileType(handle) != FILE_TYPE_UNKNOWN &&
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxA(nullptr, text.c_str(), caption,
                MB_OK | (is_error ? MB_ICONERROR : MB_ICONINFORMATION));
}
