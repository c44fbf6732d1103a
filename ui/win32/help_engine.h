#pragma once

#include <windows.h>

// The platform help engine, asked for the program's help file (the executable's path with
// the extension .hlp). No help file ships with the program: where the engine reports a
// failure the user sees "Failed to launch help.".

// Tells the help engine the window needs no more help (sent when a window moves or goes).
void help_quit(HWND window);

// Opens the help file's contents (F1).
void show_help_contents(HWND window);
