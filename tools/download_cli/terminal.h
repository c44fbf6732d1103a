#pragma once

#include <string>

// What the console asks of the terminal and of the process it runs in; one implementation
// per platform (terminal_posix.cpp, terminal_win32.cpp).

bool stdout_is_terminal();
bool stdin_is_terminal();

// The terminal's width in columns; 0 when standard output is no terminal or does not say.
int terminal_columns();

// Terminals that need it switched on learn the cursor movement sequences.
void enable_terminal_sequences();

// The program this process runs, to start it again as a child: the running program itself
// (not its path), so a package upgrade that replaces the file never breaks a running station.
std::string own_program_path();
// A closed standard output or error (the reader of a pipe gone) never ends the program:
// the write fails and the program goes on, so a download is never cut short by it.
void keep_running_when_output_closes();
