#pragma once

#include <memory>
#include <string>
#include <vector>

// The station's downloads run as child processes; one implementation per platform
// (child_process_posix.cpp, child_process_win32.cpp).

// How a child ended: its exit status, or the signal that ended it.
struct ChildExit {
    int status = -1;  // the exit status when it exited, else -1
    int signal = 0;   // the signal that ended it, else 0
};

// A child process, its standard output and error in one pipe and its standard input empty.
// A child never gets the console's interrupts: only the parent decides when a download may
// stop.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    // Appends what the child has written so far without blocking; false once its output
    // has ended (the child exited or closed it).
    virtual bool read_output(std::string& text) = 0;
    // Waits for the child to end.
    virtual ChildExit wait_for_exit() = 0;
    // Ends the child at once (an operator's second Ctrl-C).
    virtual void kill() = 0;
};

// Whether path names a program this process may start; if not, why (naming it) in error.
// Asked once before any port is touched, so that a missing program is not a failed flash
// on every modem plugged in.
bool can_start_program(const std::string& path, std::string& error);

// Starts arguments[0] (a program path) with the rest as its arguments; nothing (with a
// reason in error) when it cannot be started.
std::unique_ptr<ChildProcess> start_child_process(const std::vector<std::string>& arguments,
                                                  std::string& error);
// Returns once one of children has output or has ended, after timeout_ms at the latest (on
// POSIX also when a signal arrives).
void wait_for_child_output(const std::vector<ChildProcess*>& children, int timeout_ms);
