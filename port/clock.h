#pragma once

#include <cstdint>

// Millisecond tick count and sleep. The port layer and the download engine take time only
// from here, so tests can run a whole download against a fake clock in milliseconds.
class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; wraps at 2^32, so compare only differences.
    virtual std::uint32_t tick_ms() = 0;
    // Blocks the calling thread; dispatches nothing.
    virtual void sleep_ms(std::uint32_t milliseconds) = 0;
};

// The process-wide clock used by the port layer's waits.
Clock& port_clock();
// Replaces it; nullptr restores the system clock. The caller keeps ownership.
void set_port_clock(Clock* clock);

// Milliseconds elapsed from start to now, correct across the tick count's wrap.
inline std::uint32_t elapsed_ms(std::uint32_t start, std::uint32_t now) {
    return now - start;
}
