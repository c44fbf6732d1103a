#pragma once

#include "port/port_object.h"

// Terminators of port_write_string.
inline constexpr int PORT_TERM_NONE = -1;
inline constexpr int PORT_TERM_CRLF = -2;

// Time-out of port_read_exact meaning "no time-out".
inline constexpr int PORT_WAIT_FOREVER = -1;

// Writes text (without its NUL), then the terminator: PORT_TERM_NONE, PORT_TERM_CRLF or a
// byte 0..255. Anything else records and returns PORT_E_BAD_ARG and sends nothing.
PortStatus port_write_string(PortObject* port, const char* text, int terminator);

// Throws away everything received so far, 64 bytes per read, without waiting. Bytes that
// keep arriving end it with PORT_E_TIMEOUT once limit_ms have passed (status unchanged);
// PORT_WAIT_FOREVER drains until a read finds nothing.
PortStatus port_drain_input(PortObject* port, int limit_ms);

// Reads exactly n bytes, calling the idle hook and then waiting up to 1 ms on the line while
// nothing is waiting. timeout_ms is looked at only while no byte is waiting;
// PORT_WAIT_FOREVER waits without limit. A lost line ends the read at once with the
// wait's error.
PortStatus port_read_exact(PortObject* port, void* buffer, unsigned n, int timeout_ms);

// Waits the given milliseconds, calling the idle hook and sleeping 1 ms through the clock
// between looks at it.
PortStatus port_wait(PortObject* port, int milliseconds);

// Called by every wait between polls; a negative result ends the wait and is returned.
using PortIdleHook = int (*)(PortObject* port);
extern PortIdleHook port_idle_hook;

// The default idle hook: lets the registered user-interface dispatcher handle its pending
// events (none registered: nothing to do) and returns 0.
int dispatch_pending_messages(PortObject* port);

// What dispatch_pending_messages hands pending user-interface events to; each front end
// registers its own. nullptr unregisters.
using PendingMessageDispatcher = void (*)();
void set_pending_message_dispatcher(PendingMessageDispatcher dispatcher);
