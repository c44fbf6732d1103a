#pragma once

#include <cstdint>

#include "port/clock.h"

// A clock that moves only when asked. Every reading advances it by step_per_reading
// milliseconds, so busy-polling loops reach their time-outs; a sleep advances it at once.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(std::uint32_t start = 0, std::uint32_t step_per_reading = 1)
        : now_(start), step_(step_per_reading) {}

    std::uint32_t tick_ms() override {
        std::uint32_t reading = now_;
        now_ += step_;
        return reading;
    }
    void sleep_ms(std::uint32_t milliseconds) override {
        now_ += milliseconds;
        slept_ += milliseconds;
    }

    void advance(std::uint32_t milliseconds) { now_ += milliseconds; }
    std::uint32_t now() const { return now_; }
    std::uint64_t total_slept() const { return slept_; }

  private:
    std::uint32_t now_;
    std::uint32_t step_;
    std::uint64_t slept_ = 0;
};
