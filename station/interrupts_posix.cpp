#include <signal.h>

#include <csignal>

#include "station/interrupts.h"
#include "station/interrupts_posix.h"

namespace {

// The signals an operator, a terminal or a service manager ends a program with.
constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t aborted = 0;
volatile std::sig_atomic_t second_ctrl_c_ends_program = 0;
bool interrupts_ignored = false;

void note_interrupt(int signal_number) {
    if (interrupted == 0 || signal_number != SIGINT) {
        interrupted = 1;
    } else if (second_ctrl_c_ends_program != 0) {
        // Ends as an interrupted program does, so the shell sees what happened.
        ::signal(SIGINT, SIG_DFL);
        raise(SIGINT);
    } else {
        aborted = 1;
    }
}

void set_interrupt_action(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads and writes on the serial line carry on; a poll or sleep the signal ends early
    // is one the port layer waits out again.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : INTERRUPTS) {
        sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace

sigset_t interrupt_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : INTERRUPTS) {
        sigaddset(&set, signal_number);
    }
    return set;
}

void defer_interrupts(SecondCtrlC second) {
    if (interrupts_ignored) {
        return;
    }
    second_ctrl_c_ends_program = second == SecondCtrlC::ends_program ? 1 : 0;
    set_interrupt_action(note_interrupt);
}

void ignore_interrupts() {
    interrupts_ignored = true;
    set_interrupt_action(SIG_IGN);
    // Ignored now, so one that came while they were blocked (from the start) is dropped.
    const sigset_t interrupts = interrupt_signals();
    sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}

bool interrupt_requested() {
    return interrupted != 0;
}

bool abort_requested() {
    return aborted != 0;
}
