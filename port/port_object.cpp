#include "port/port_object.h"

#include <cstdlib>

namespace {

PortObject* open_port_list = nullptr;
bool close_all_registered = false;
PortObject fallback_port_object;

void* zero_filled_allocation(std::size_t size) {
    return std::calloc(1, size);
}
int register_with_atexit(void (*function)()) {
    return std::atexit(function);
}

PortAllocator port_allocator = zero_filled_allocation;
PortExitRegistrar port_exit_registrar = register_with_atexit;

PortStatus record_not_supported(PortObject* port) {
    port->status = PORT_E_NOT_SUPPORTED;
    return PORT_E_NOT_SUPPORTED;
}

int unsupported(PortObject* port) {
    return record_not_supported(port);
}
int unsupported_int(PortObject* port, int) {
    return record_not_supported(port);
}
PortStatus unsupported_line_format(PortObject* port, int, char, int, int) {
    return record_not_supported(port);
}
PortStatus unsupported_write(PortObject* port, const void*, unsigned) {
    return record_not_supported(port);
}
PortStatus unsupported_read(PortObject* port, void*, unsigned) {
    return record_not_supported(port);
}

PortStatus default_close(PortObject* port) {
    if (port->driver != nullptr) {
        free_port_memory(port->driver);
        port->driver = nullptr;
    }
    release_port_object(port);
    return PORT_OK;
}

PortStatus default_dump(PortObject* port, const PortLineSink& sink) {
    sink("Port dump not supported for this driver");
    sink("");
    return record_not_supported(port);
}

void default_clear_status(PortObject* port) {
    port->status = PORT_OK;
}

int no_input_wait(PortObject*, int) {
    return 0;
}

void fill_default_slots(PortObject* port) {
    port->read_char = unsupported;
    port->unnamed_slot_2 = unsupported;
    port->write_char = unsupported_int;
    port->close = default_close;
    port->set_line_format = unsupported_line_format;
    port->set_xon_xoff = unsupported_int;
    port->set_rts_cts = unsupported_int;
    port->set_dtr_dsr = unsupported_int;
    port->set_dtr = unsupported_int;
    port->set_rts = unsupported_int;
    port->tx_free = unsupported;
    port->tx_count = unsupported;
    port->rx_free = unsupported;
    port->rx_count = unsupported;
    port->clear_tx = unsupported;
    port->write_block = unsupported_write;
    port->read_block = unsupported_read;
    port->dump = default_dump;
    port->send_break = unsupported_int;
    port->modem_status = unsupported;
    port->line_errors = unsupported;
    port->clear_line_errors = unsupported;
    port->unnamed_slot_23 = unsupported_int;
    port->clear_status = default_clear_status;
    port->wait_for_input = no_input_wait;
}

void unlink_from_open_port_list(PortObject* port) {
    for (PortObject** link = &open_port_list; *link != nullptr; link = &(*link)->next) {
        if (*link == port) {
            *link = port->next;
            port->next = nullptr;
            return;
        }
    }
}

}  // namespace

void init_port_object(PortObject* port) {
    if (!close_all_registered) {
        port_exit_registrar(close_all_ports);
        close_all_registered = true;
    }
    port->next = open_port_list;
    open_port_list = port;
    fill_default_slots(port);
}

void release_port_object(PortObject* port) {
    unlink_from_open_port_list(port);
    if (port != &fallback_port_object) {
        free_port_memory(port);
    }
}

void close_all_ports() {
    while (open_port_list != nullptr) {
        PortObject* newest = open_port_list;
        newest->close(newest);
        // A close that failed to unlink its object must not make this loop endless.
        if (open_port_list == newest) {
            unlink_from_open_port_list(newest);
        }
    }
}

void* allocate_port_memory(std::size_t size) {
    return port_allocator(size);
}

void free_port_memory(void* memory) {
    std::free(memory);
}

PortObject* hand_out_fallback_port_object() {
    PortObject* port = &fallback_port_object;
    fill_default_slots(port);
    port->driver = nullptr;
    port->next = nullptr;
    port->status = PORT_E_NO_MEMORY;
    port->port_index = -1;
    port->driver_kind = -1;
    port->count = 0;
    return port;
}

PortObject* open_port_list_head() {
    return open_port_list;
}

void set_port_allocator(PortAllocator allocator) {
    port_allocator = allocator != nullptr ? allocator : zero_filled_allocation;
}

void set_port_exit_registrar(PortExitRegistrar registrar) {
    port_exit_registrar = registrar != nullptr ? registrar : register_with_atexit;
}
