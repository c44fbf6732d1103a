#pragma once

#include <string>

// Text a window program writes about its command line (help, version, a usage error). Such a
// program has no console of its own: the text goes to standard output (is_error false) or
// error when the caller gave it one (a redirection, a pipe), else into a message box with the
// given caption.
void show_command_line_text(const std::string& text, bool is_error, const char* caption);
