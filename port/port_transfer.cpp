#include "port/port_transfer.h"

#include <cstring>
#include <optional>

#include "port/clock.h"

namespace {

PendingMessageDispatcher pending_message_dispatcher = nullptr;

// The longest a wait sleeps between two looks at the line and the clock: short enough for a
// reply to be seen at once and for the user interface to stay lively, long enough that a
// wait costs no CPU to speak of.
constexpr int POLL_INTERVAL_MS = 1;

// A negative limit (other than "forever", which callers test first) has always passed.
bool elapsed_at_least(std::uint32_t start, int milliseconds) {
    return static_cast<std::int64_t>(elapsed_ms(start, port_clock().tick_ms())) >= milliseconds;
}

}  // namespace

PortIdleHook port_idle_hook = dispatch_pending_messages;

PortStatus port_write_string(PortObject* port, const char* text, int terminator) {
    port->count = 0;
    if (terminator < PORT_TERM_CRLF || terminator > 255) {
        port->status = PORT_E_BAD_ARG;
        return PORT_E_BAD_ARG;
    }
    port->write_block(port, text, static_cast<unsigned>(std::strlen(text)));
    if (port->status < 0) {
        return port->status;
    }
    if (terminator == PORT_TERM_CRLF) {
        port->write_char(port, 13);
        port->write_char(port, 10);
    } else if (terminator != PORT_TERM_NONE) {
        port->write_char(port, terminator);
    }
    return port->status;
}

PortStatus port_drain_input(PortObject* port, int limit_ms) {
    unsigned char scratch[64];
    std::optional<std::uint32_t> start;  // taken at the first byte: a quiet line costs no reading
    do {
        PortStatus result = port->read_block(port, scratch, sizeof scratch);
        if (result < 0 && result != PORT_E_TIMEOUT) {
            return result;
        }
        if (port->count == 0 || limit_ms == PORT_WAIT_FOREVER) {
            continue;
        }
        // A line that never falls silent (a modem babbling, noise on a loose cable) must not
        // hold the exchange that asked for the drain past its own time-out.
        if (!start) {
            start = port_clock().tick_ms();
        } else if (elapsed_at_least(*start, limit_ms)) {
            return PORT_E_TIMEOUT;
        }
    } while (port->count != 0);
    return PORT_OK;
}

PortStatus port_read_exact(PortObject* port, void* buffer, unsigned n, int timeout_ms) {
    auto* next_free = static_cast<unsigned char*>(buffer);
    unsigned total = 0;
    unsigned missing = n;
    port->count = 0;
    const std::uint32_t start = port_clock().tick_ms();
    for (;;) {
        if (port->rx_count(port) != 0) {
            port->read_block(port, next_free, missing);
            // A misbehaving driver must never make us write past the caller's buffer.
            unsigned moved = port->count <= missing ? port->count : missing;
            total += moved;
            next_free += moved;
            missing -= moved;
            port->count = total;
            if (missing == 0) {
                return PORT_OK;
            }
            if (port->status < 0) {
                return port->status;
            }
            // A device that keeps reporting input it never delivers must not hold the read
            // past its time-out, nor keep the user interface from its events.
            if (moved > 0) {
                continue;
            }
        }
        if (timeout_ms != PORT_WAIT_FOREVER && elapsed_at_least(start, timeout_ms)) {
            return PORT_E_TIMEOUT;
        }
        int hook_result = port_idle_hook(port);
        if (hook_result < 0) {
            return hook_result;
        }
        const int waited = port->wait_for_input(port, POLL_INTERVAL_MS);
        if (waited < 0) {
            return waited;
        }
    }
}

PortStatus port_wait(PortObject* port, int milliseconds) {
    Clock& clock = port_clock();
    const std::uint32_t start = clock.tick_ms();
    while (milliseconds > 0 && !elapsed_at_least(start, milliseconds)) {
        int hook_result = port_idle_hook(port);
        if (hook_result < 0) {
            return hook_result;
        }
        // A pause, not a wait for input: bytes arriving meanwhile must not make it spin.
        clock.sleep_ms(POLL_INTERVAL_MS);
    }
    return PORT_OK;
}

int dispatch_pending_messages(PortObject*) {
    if (pending_message_dispatcher != nullptr) {
        pending_message_dispatcher();
    }
    return 0;
}

void set_pending_message_dispatcher(PendingMessageDispatcher dispatcher) {
    pending_message_dispatcher = dispatcher;
}
