#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "port/port_status.h"

// Receives one NUL-terminated text line (without line ending) from a port's dump.
using PortLineSink = std::function<void(const char* line)>;

// The state every serial driver shares, followed by the table of operation slots.
// Every slot takes the port object first. A fresh object's slots answer "not supported"
// (except close, dump, clear_status and wait_for_input), so any operation may be called on
// any object.
struct PortObject {
    void* driver;              // the driver's private record, owned by this object
    PortObject* next;          // link in the open-port list (towards older objects)
    std::int32_t port_index;   // 0 is COM1; -1 in the fallback object
    PortStatus status;         // last error recorded; sticky until an open or clear_status
    std::int32_t driver_kind;  // 15 once the serial driver attached its record
    std::uint32_t count;       // bytes moved by the last transfer

    int (*read_char)(PortObject* port);
    int (*unnamed_slot_2)(PortObject* port);
    PortStatus (*write_char)(PortObject* port, int byte);
    PortStatus (*close)(PortObject* port);
    PortStatus (*set_line_format)(PortObject* port, int baud, char parity, int data_bits,
                                  int stop_bits);
    PortStatus (*set_xon_xoff)(PortObject* port, int on);
    PortStatus (*set_rts_cts)(PortObject* port, int on);
    PortStatus (*set_dtr_dsr)(PortObject* port, int on);
    PortStatus (*set_dtr)(PortObject* port, int on);
    PortStatus (*set_rts)(PortObject* port, int on);
    int (*tx_free)(PortObject* port);
    int (*tx_count)(PortObject* port);
    int (*rx_free)(PortObject* port);
    int (*rx_count)(PortObject* port);
    PortStatus (*clear_tx)(PortObject* port);
    PortStatus (*write_block)(PortObject* port, const void* bytes, unsigned length);
    PortStatus (*read_block)(PortObject* port, void* buffer, unsigned maximum);
    PortStatus (*dump)(PortObject* port, const PortLineSink& sink);
    PortStatus (*send_break)(PortObject* port, int milliseconds);
    int (*modem_status)(PortObject* port);
    int (*line_errors)(PortObject* port);
    PortStatus (*clear_line_errors)(PortObject* port);
    int (*unnamed_slot_23)(PortObject* port, int value);
    void (*clear_status)(PortObject* port);
    // Waits up to milliseconds for received bytes, so that poll loops sleep on the line
    // instead of spinning: 1 when some are waiting, 0 otherwise, and when the line is lost
    // (hung up, device gone) PORT_E_NO_PORT at once, also recorded in status. The default
    // waits not at all.
    int (*wait_for_input)(PortObject* port, int milliseconds);
};

// Prepares a freshly allocated, zero-filled object: registers close_all_ports for process
// exit the first time, links the object at the head of the open-port list and fills every
// slot with its default.
void init_port_object(PortObject* port);

// Unlinks the object from the open-port list (if it is there) and frees it. The fallback
// object is unlinked but never freed.
void release_port_object(PortObject* port);

// Closes every object on the open-port list, newest first.
void close_all_ports();

// Allocates a zero-filled port object or driver record; nullptr when memory runs out.
void* allocate_port_memory(std::size_t size);
void free_port_memory(void* memory);

// The statically allocated object handed out when memory runs out: default slots, status
// PORT_E_NO_MEMORY, port_index and driver_kind -1. It is never put on the open-port list.
PortObject* hand_out_fallback_port_object();

// Newest object on the open-port list, or nullptr.
PortObject* open_port_list_head();

// Seams for tests: the allocator behind allocate_port_memory and the function that
// registers close_all_ports for process exit (std::atexit by default).
using PortAllocator = void* (*)(std::size_t size);
using PortExitRegistrar = int (*)(void (*function)());
void set_port_allocator(PortAllocator allocator);           // nullptr restores calloc
void set_port_exit_registrar(PortExitRegistrar registrar);  // nullptr restores std::atexit
