#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/download_sequencer.h"
#include "port/port_filter.h"

// The few console operations that differ between operating systems; one implementation
// per platform (console_platform_posix.cpp, console_platform_win32.cpp).

bool stdout_is_terminal();
bool stdin_is_terminal();

// The device the serial layer opens for a port of the search: the entry's own device, else
// the one its COM number stands for; empty when that COM number has no device here.
std::string searched_port_device(const PortTableEntry& port);

// "COM3 (/dev/ttyUSB0): in use by ModemManager (pid 812)", "COM3 (/dev/ttyUSB7): no such
// device": the port whose open failed with status, and why, as far as the system can tell.
std::string describe_refused_port(const PortTableEntry& port, PortStatus status);

// "in use by ModemManager (pid 812)": who holds the device, as far as the system can tell.
std::string describe_busy_device(const std::string& device);

// Writes one row per serial device and per COM number (aligned text, or JSON for scripts),
// each marked as kept or not when there are filters, and returns the program's exit status.
int list_serial_ports(std::ostream& out, bool json, const std::vector<PortFilter>& filters);

// The one port table entry under which the serial layer opens device, for a search of
// that device alone; nothing (with a reason in error) when the device cannot be reached so.
std::optional<PortTableEntry> port_entry_for_device(const std::string& device, std::string& error);

// How a child of the production line ended: its exit status, or the signal that ended it.
struct ChildExit {
    int status = -1;  // the exit status when it exited, else -1
    int signal = 0;   // the signal that ended it, else 0
};

// A child process of the production line, its standard output and error in one pipe and
// its standard input empty. A child never gets the console's interrupts: only the parent
// decides when a download may stop.
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

// Starts arguments[0] (a program path) with the rest as its arguments; nothing (with a
// reason in error) when it cannot be started.
std::unique_ptr<ChildProcess> start_child_process(const std::vector<std::string>& arguments,
                                                  std::string& error);
// Returns once one of children has output or has ended, after timeout_ms at the latest, or
// sooner when an interrupt arrives.
void wait_for_child_output(const std::vector<ChildProcess*>& children, int timeout_ms);
// The program this process runs, to start it again as a child: the running program itself
// (not its path), so a package upgrade that replaces the file never breaks a running station.
std::string own_program_path();
// A closed standard output or error (the reader of a pipe gone) never ends the program:
// the write fails and the program goes on, so a download is never cut short by it.
void keep_running_when_output_closes();

// Interrupts are Ctrl-C, a termination request (SIGTERM, a service manager's stop) and a
// hang-up (SIGHUP, the terminal closed; Ctrl-Break or the console closed on Windows).
// Until defer_interrupts or ignore_interrupts, each ends the program at once.
enum class SecondCtrlC { ends_program, is_noted };
// From now on the first interrupt only sets interrupt_requested(). A second Ctrl-C ends the
// program at once (ends_program) or sets abort_requested() (is_noted); other interrupts
// change nothing more.
void defer_interrupts(SecondCtrlC second);
// A child of the production line leaves every interrupt to its parent.
void ignore_interrupts();
bool interrupt_requested();
bool abort_requested();

// The terminal's width in columns; 0 when standard output is no terminal or does not say.
int terminal_columns();

// Terminals that need it switched on learn the cursor movement sequences.
void enable_terminal_sequences();

// A serial port of the machine: its COM name and the device the serial layer opens for it.
struct SerialPortName {
    std::string name;
    std::string device;
};
// Every serial port that exists on this machine now, in COM order: COM1..COM9 as the
// search maps them, then the devices the machine numbers beyond COM9. Each device that
// exists but is not among them is named in left_out with the reason.
std::vector<SerialPortName> find_serial_ports(std::vector<std::string>& left_out);
// The device a port argument stands for: a COM name as the serial layer maps it (empty
// when no device has that number), any other text as it is.
std::string device_for_port(const std::string& port);
// A text equal for two names of one device (a link and its target), different otherwise.
std::string device_identity(const std::string& device);

// Whether the device is there now (plugged in, mapped path existing).
bool device_is_present(const std::string& device);
