#pragma once

#include <cstdint>

// Millisecond tick count and sleep. The port layer, the download engine and its hosts take
// time only from port_clock(), so tests can run a whole download against a fake clock.
class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; wraps at 2^32, so compare only differences.
    virtual std::uint32_t tick_ms() = 0;
    // Blocks the calling thread; dispatches nothing.
    virtual void sleep_ms(std::uint32_t milliseconds) = 0;
};

// The machine's own monotonic clock.
Clock& system_clock();

// The one clock of the process: every wait of the port layer, every time-out and pause of
// the engine and every pause of a host reads it. The clock of the binding in force, else
// the system clock.
Clock& port_clock();

// Makes clock the port layer's clock for the lifetime of this object; the download
// sequencer holds one for the clock it is given. Only one binding may be in force at a
// time: a second one would leave the waits and the engine on different clocks, so trying it
// is a programming error that aborts the program.
class PortClockBinding {
  public:
    explicit PortClockBinding(Clock& clock);
    ~PortClockBinding();
    PortClockBinding(const PortClockBinding&) = delete;
    PortClockBinding& operator=(const PortClockBinding&) = delete;
};

// Milliseconds elapsed from start to now, correct across the tick count's wrap.
inline std::uint32_t elapsed_ms(std::uint32_t start, std::uint32_t now) {
    return now - start;
}
