#pragma once

#include <signal.h>

// The signals counted as interrupts: a child starts with them blocked, so one that comes
// before it ignores them (ignore_interrupts) does not end it either.
sigset_t interrupt_signals();
