#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "port/port_object.h"

class FakeClock;

// An in-memory serial line for tests. The host's writes are appended to `sent` and handed
// to `on_write`, which can play the other end; bytes queued with deliver() are what the
// host reads, each from its due time on (when a clock is attached). A wait for input with
// nothing to read moves the attached clock on by its limit, as a real sleep would.
struct MemoryLine {
    std::vector<std::uint8_t> sent;
    std::function<void(MemoryLine& line, const std::uint8_t* bytes, std::size_t length)> on_write;
    FakeClock* clock = nullptr;  // due times are compared with this clock's reading
    unsigned tx_room = 1050;     // bytes a single write_block accepts
    int close_calls = 0;
    int clear_tx_calls = 0;
    int write_calls = 0;
    int input_waits = 0;         // calls of wait_for_input that found nothing to read
    int longest_input_wait = 0;  // the longest limit such a call was given, in ms

    // Queues bytes for the host, readable delay_ms after the clock's current reading.
    void deliver(const std::vector<std::uint8_t>& bytes, std::uint32_t delay_ms = 0);
    void deliver(const char* text, std::uint32_t delay_ms = 0);
    // Bytes the host can read now.
    std::size_t available() const;
    // Takes up to n readable bytes.
    std::size_t take(std::uint8_t* buffer, std::size_t n);
    std::size_t pending() const { return incoming_.size(); }
    // The attached clock's reading in ms; 0 without a clock.
    std::uint32_t clock_reading() const;

  private:
    struct Pending {
        std::uint32_t due;
        std::uint8_t byte;
    };
    std::deque<Pending> incoming_;
};

// A port object (on the open-port list, like any other) whose slots work on line. Its close
// unlinks and frees the object but leaves line alone.
PortObject* open_memory_port(MemoryLine& line, int port_index = 0);

// The line a port object from open_memory_port works on.
MemoryLine& memory_line_of(PortObject* port);
