#include "ui/win32/help_engine.h"

#include <cstring>

namespace {

const char* help_file_path() {
    static char path[MAX_PATH] = {};
    if (path[0] == '\0') {
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH - 4);
        char* dot = std::strrchr(path, '.');
        char* slash = std::strrchr(path, '\\');
        if (dot != nullptr && (slash == nullptr || dot > slash)) {
            *dot = '\0';
        } else {
            path[length] = '\0';
        }
        std::strcat(path, ".hlp");
    }
    return path;
}

void ask_help_engine(HWND window, UINT command) {
    if (!WinHelpA(window, help_file_path(), command, 0)) {
        MessageBoxA(window, "Failed to launch help.", nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace

void help_quit(HWND window) {
    ask_help_engine(window, HELP_QUIT);
}

void show_help_contents(HWND window) {
    ask_help_engine(window, HELP_FINDER);
}
