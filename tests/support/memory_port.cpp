#include "tests/support/memory_port.h"

#include <algorithm>
#include <cstring>

#include "tests/support/fake_clock.h"

void MemoryLine::deliver(const std::vector<std::uint8_t>& bytes, std::uint32_t delay_ms) {
    const std::uint32_t due = clock_reading() + delay_ms;
    for (std::uint8_t byte : bytes) {
        incoming_.push_back({due, byte});
    }
}

void MemoryLine::deliver(const char* text, std::uint32_t delay_ms) {
    deliver(std::vector<std::uint8_t>(text, text + std::strlen(text)), delay_ms);
}

std::uint32_t MemoryLine::clock_reading() const {
    return clock != nullptr ? clock->now() : 0;
}

std::size_t MemoryLine::available() const {
    const std::uint32_t now = clock_reading();
    std::size_t n = 0;
    while (n < incoming_.size() && static_cast<std::int32_t>(incoming_[n].due - now) <= 0) {
        ++n;
    }
    return n;
}

std::size_t MemoryLine::take(std::uint8_t* buffer, std::size_t n) {
    std::size_t taken = 0;
    const std::size_t readable = available();
    while (taken < n && taken < readable) {
        buffer[taken++] = incoming_.front().byte;
        incoming_.pop_front();
    }
    return taken;
}

namespace {

MemoryLine& line_of(PortObject* port) {
    return *static_cast<MemoryLine*>(port->driver);
}

PortStatus memory_read_block(PortObject* port, void* buffer, unsigned maximum) {
    port->count =
        static_cast<std::uint32_t>(line_of(port).take(static_cast<std::uint8_t*>(buffer), maximum));
    return port->count == 0 ? PORT_E_TIMEOUT : PORT_OK;
}

int memory_read_char(PortObject* port) {
    std::uint8_t byte = 0;
    PortStatus result = memory_read_block(port, &byte, 1);
    return result != PORT_OK ? result : byte;
}

PortStatus memory_write_block(PortObject* port, const void* bytes, unsigned length) {
    MemoryLine& line = line_of(port);
    ++line.write_calls;
    const unsigned accepted = length < line.tx_room ? length : line.tx_room;
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    line.sent.insert(line.sent.end(), data, data + accepted);
    port->count = accepted;
    if (line.on_write && accepted > 0) {
        line.on_write(line, data, accepted);
    }
    if (accepted < length) {
        port->status = PORT_E_TX_FULL;
        return PORT_E_TX_FULL;
    }
    return PORT_OK;
}

PortStatus memory_write_char(PortObject* port, int byte) {
    const auto value = static_cast<std::uint8_t>(byte & 0xFF);
    return memory_write_block(port, &value, 1);
}

int memory_rx_count(PortObject* port) {
    return static_cast<int>(line_of(port).available());
}
int memory_tx_count(PortObject*) {
    return 0;
}
int memory_tx_free(PortObject* port) {
    return static_cast<int>(line_of(port).tx_room);
}

PortStatus memory_clear_tx(PortObject* port) {
    ++line_of(port).clear_tx_calls;
    return PORT_OK;
}

int memory_wait_for_input(PortObject* port, int milliseconds) {
    MemoryLine& line = line_of(port);
    if (line.available() > 0) {
        return 1;
    }
    ++line.input_waits;
    line.longest_input_wait = std::max(line.longest_input_wait, milliseconds);
    if (line.clock != nullptr && milliseconds > 0) {
        line.clock->advance(static_cast<std::uint32_t>(milliseconds));
    }
    return line.available() > 0 ? 1 : 0;
}

PortStatus memory_close(PortObject* port) {
    ++line_of(port).close_calls;
    port->driver = nullptr;
    release_port_object(port);
    return PORT_OK;
}

}  // namespace

PortObject* open_memory_port(MemoryLine& line, int port_index) {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    port->driver = &line;
    port->port_index = port_index;
    port->read_char = memory_read_char;
    port->write_char = memory_write_char;
    port->close = memory_close;
    port->tx_free = memory_tx_free;
    port->tx_count = memory_tx_count;
    port->rx_count = memory_rx_count;
    port->clear_tx = memory_clear_tx;
    port->write_block = memory_write_block;
    port->read_block = memory_read_block;
    port->wait_for_input = memory_wait_for_input;
    return port;
}

MemoryLine& memory_line_of(PortObject* port) {
    return line_of(port);
}
