#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "tools/download_cli/terminal.h"

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal() {
    return isatty(STDIN_FILENO) == 1;
}

int terminal_columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void enable_terminal_sequences() {}

std::string own_program_path() {
    // Still the program this process runs after its file was replaced or removed; its
    // path would start the new one, or nothing.
    return "/proc/self/exe";
}

void keep_running_when_output_closes() {
    std::signal(SIGPIPE, SIG_IGN);
}
