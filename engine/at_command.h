#pragma once

#include <cstddef>

#include "port/port_object.h"

// Size of every text buffer of an AT exchange: command line, expected text and reply.
inline constexpr std::size_t AT_BUFFER_SIZE = 260;
inline constexpr unsigned AT_REPLY_TIMEOUT_MS = 1000;

// Sends command followed by a carriage return and waits up to one second (by port_clock())
// for the expected text anywhere in what comes back, echo included. reply is either nullptr (wait
// for "OK") or a caller buffer of AT_BUFFER_SIZE bytes that holds the expected text on
// entry and, on success only, everything received (NUL bytes skipped). When more than 259
// characters arrive, the oldest are dropped, so the newest 259 are searched and returned.
// Returns 0 when the expected text was seen, -1 otherwise.
int send_at_command(PortObject* port, const char* command, char* reply);
