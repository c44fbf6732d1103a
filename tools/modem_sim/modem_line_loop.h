#pragma once

#include <signal.h>

#include <csignal>
#include <cstdio>

#include "tools/modem_sim/event_log.h"
#include "tools/modem_sim/modem_session.h"
#include "tools/modem_sim/serial_line.h"

struct LineLoopOptions {
    // Paces both directions to this line speed; 0 does not pace.
    unsigned line_rate = 0;
    // When set, one line per chunk handed across the line, "<monotonic ns> in|out <bytes>",
    // and per modem event "<monotonic ns> event <text>", for timing a whole run.
    std::FILE* wire_trace = nullptr;
};

enum class LineLoopEnd {
    stop_requested,  // a signal set the stop flag
    modem_hung_up,   // the modem closed the line on purpose
    line_lost,       // the device went away or reported a hang-up
};

// Moves bytes between the line and the modem session until told to stop. Signals that set
// `stop` are expected to be blocked by the caller; they are let through only while the loop
// waits, with `wait_mask`, so a stop is never missed between a check and a wait.
LineLoopEnd run_line_loop(SerialLine& line, ModemSession& session, const LineLoopOptions& options,
                          EventLog& log, const volatile std::sig_atomic_t& stop,
                          const sigset_t& wait_mask);
