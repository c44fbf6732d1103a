#include <windows.h>

#include "station/interrupts.h"

namespace {

volatile LONG interrupted = 0;
volatile LONG aborted = 0;
volatile LONG second_ctrl_c_ends_program = 0;
bool interrupts_ignored = false;

bool is_set(volatile LONG& flag) {
    return InterlockedCompareExchange(&flag, 0, 0) != 0;
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI note_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (!is_set(interrupted) || event != CTRL_C_EVENT) {
        InterlockedExchange(&interrupted, 1);
        return TRUE;
    }
    if (is_set(second_ctrl_c_ends_program)) {
        return FALSE;  // the default handler ends the process
    }
    InterlockedExchange(&aborted, 1);
    return TRUE;
}

}  // namespace

void defer_interrupts(SecondCtrlC second) {
    if (interrupts_ignored) {
        return;
    }
    InterlockedExchange(&second_ctrl_c_ends_program, second == SecondCtrlC::ends_program ? 1 : 0);
    SetConsoleCtrlHandler(note_interrupt, TRUE);
}

void ignore_interrupts() {
    interrupts_ignored = true;
    SetConsoleCtrlHandler(nullptr, TRUE);
}

bool interrupt_requested() {
    return is_set(interrupted);
}

bool abort_requested() {
    return is_set(aborted);
}
