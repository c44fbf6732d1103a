#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/memory_port.h"
#include "tools/modem_sim/event_log.h"
#include "tools/modem_sim/modem_session.h"

// The modem the tests know: a model name their modem maps match, and device info and a
// context word whose packets they spell out byte by byte.
ModemSettings test_modem_settings();

// The simulator's modem at the far end of a MemoryLine. What the host writes goes to a
// ModemSession; its replies come back on the line at their due times on the line's clock,
// so a whole download takes no real time. The host writes each request whole, so the line
// counts as quiet after every write.
class MemoryModem {
  public:
    explicit MemoryModem(MemoryLine& line, ModemSettings settings = test_modem_settings());
    ~MemoryModem();
    MemoryModem(const MemoryModem&) = delete;
    MemoryModem& operator=(const MemoryModem&) = delete;

    ModemSession& session() { return *session_; }
    ModemFaults& faults() { return session_->faults(); }
    // The line speed the host has set; 0 until it sets one.
    void set_line_speed(unsigned baud) { line_speed_ = baud; }
    // Switches the modem off and on: its first mode again, nothing heard.
    void restart();

    // What the modem heard, in order.
    std::vector<std::string> commands() const;               // text-mode command lines
    std::vector<std::vector<std::uint8_t>> packets() const;  // download-mode bytes, by packet
    std::vector<std::vector<std::uint8_t>> records() const;  // the program packets among them
    std::vector<unsigned> line_speeds() const;               // of every line and packet

  private:
    void on_write(const std::uint8_t* bytes, std::size_t length);
    void deliver_replies(SimTime now);

    MemoryLine& line_;
    ModemSettings settings_;
    EventLog log_;
    std::unique_ptr<ModemSession> session_;
    unsigned line_speed_ = 0;
};
