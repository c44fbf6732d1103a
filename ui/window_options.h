#pragma once

#include <optional>
#include <ostream>
#include <string>

// Exit status after a command line that cannot be parsed (as sysexits' EX_USAGE), the same as
// the console front end's.
inline constexpr int WINDOW_USAGE_ERROR = 64;

// What the window program's command line asks for. Without options it opens the progress
// window and runs one download.
struct WindowOptions {
    std::string trace_path;  // empty: no trace of the serial line
};

// Parses the window program's command line before any window exists. Returns the options, or
// nothing when the program is to exit at once (help, version or a usage error) with exit_code
// set and the text written to out (help, version) or err (usage error). A trace path that is
// an image modems.cfg names, modems.cfg itself or no regular file is a usage error.
std::optional<WindowOptions> parse_window_options(int argc, char** argv, std::ostream& out,
                                                  std::ostream& err, int& exit_code);
