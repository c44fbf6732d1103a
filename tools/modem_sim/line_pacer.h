#pragma once

#include <chrono>
#include <cstddef>

#include "tools/modem_sim/modem_settings.h"

// Lets bytes through no faster than a serial line at `baud` with 10 bits per byte (start
// bit, 8 data bits, stop bit). A baud of 0 lets everything through at once.
class LinePacer {
  public:
    explicit LinePacer(unsigned baud);

    // How many bytes may move now.
    std::size_t allowance(SimTime now) const;
    // Records that `count` bytes moved at `now`.
    void moved(std::size_t count, SimTime now);
    // When about half a lead of bytes may move: waking then moves bytes in chunks rather
    // than one at a time, and the rest of the lead absorbs a late wake-up.
    SimTime next_allowance(SimTime now) const;

    std::chrono::nanoseconds byte_time() const { return byte_time_; }
    bool paced() const { return baud_ != 0; }

  private:
    std::chrono::nanoseconds duration_of(std::size_t count) const;

    unsigned baud_;
    std::chrono::nanoseconds byte_time_{0};
    // Bytes may run this far ahead of the line, so the caller wakes up about once per
    // lead instead of once per byte.
    std::chrono::nanoseconds lead_{0};
    // When the line has finished sending what has moved so far.
    SimTime line_free_{};
};
