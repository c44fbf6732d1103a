#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "tools/modem_sim/modem_settings.h"

// One direction of a serial line at `baud`, 10 bits per byte (start bit, 8 data bits, stop
// bit). Bytes go in when their sender has them ready and start crossing once the line is
// free; each comes out at the far end only when its last bit has arrived, so no byte is
// ever delivered sooner than a real line could. A baud of 0 delivers everything at once.
class LinePacer {
  public:
    explicit LinePacer(unsigned baud);

    // Bytes the sender had ready at `ready` (never later than the caller's now).
    void send(std::span<const std::uint8_t> bytes, SimTime ready);
    // The bytes at the front that have wholly crossed the line by `now`.
    std::span<const std::uint8_t> arrived(SimTime now) const;
    // Removes `count` arrived bytes from the front, handed on at `now`; returns the moment the
    // last of them finished crossing, which is when the far end really had it.
    SimTime take(std::size_t count, SimTime now);
    // When the caller should next take bytes; none while nothing is on the line. Waking for
    // every byte would cost a wake-up every 87 us at 115200, so bytes in the middle of a burst
    // are collected a few at a time, while the first and the last byte of a burst are
    // handed on the moment they arrive.
    std::optional<SimTime> next_delivery() const;

    bool empty() const { return bytes_.size() == taken_; }
    std::chrono::nanoseconds byte_time() const { return byte_time_; }
    bool paced() const { return baud_ != 0; }

  private:
    // Bytes that crossed back to back from `start`; `taken` of them are already handed on.
    struct Burst {
        SimTime start;
        std::size_t count = 0;
        std::size_t taken = 0;
    };

    // The moment byte `index` (0-based) of `burst` has finished crossing.
    SimTime arrival_of(const Burst& burst, std::size_t index) const;
    // How many bytes of `burst` have finished crossing by `now`.
    std::size_t arrived_in(const Burst& burst, SimTime now) const;

    unsigned baud_;
    std::chrono::nanoseconds byte_time_{0};
    std::vector<std::uint8_t> bytes_;
    std::size_t taken_ = 0;
    std::deque<Burst> bursts_;
    // When the last byte sent so far finishes crossing.
    SimTime line_free_{};
    SimTime last_take_{};
};
