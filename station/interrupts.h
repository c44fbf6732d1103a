#pragma once

// Interrupts are Ctrl-C, a termination request (SIGTERM, a service manager's stop) and a
// hang-up (SIGHUP, the terminal closed; Ctrl-Break or the console closed on Windows).
// Until defer_interrupts or ignore_interrupts, each ends the program at once. One
// implementation per platform (interrupts_posix.cpp, interrupts_win32.cpp).
enum class SecondCtrlC { ends_program, is_noted };
// From now on the first interrupt only sets interrupt_requested(). A second Ctrl-C ends the
// program at once (ends_program) or sets abort_requested() (is_noted); other interrupts
// change nothing more.
void defer_interrupts(SecondCtrlC second);
// A child of the production line leaves every interrupt to its parent.
void ignore_interrupts();
bool interrupt_requested();
bool abort_requested();
