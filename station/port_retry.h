#pragma once

#include <chrono>
#include <optional>

// Watch mode: a port whose modem was not reached yet is tried again every few seconds
// instead of counting as a run. A new modem is often busy at first (ModemManager probes it
// for a few seconds) or still starting up; a person should not have to plug it in again.
// A port in use is waited for as long as its device stays; a modem that never answers
// counts as one "no modem" run once NO_ANSWER_LIMIT of trying has passed.
class PortRetry {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration RETRY_INTERVAL = std::chrono::seconds(3);
    static constexpr Clock::duration NO_ANSWER_LIMIT = std::chrono::seconds(30);

    enum class Attempt { reached_modem, port_busy, no_answer };

    // After an attempt that ran from started to now: true when the port is to be tried again
    // at retry_at() and the attempt is not a run; false when it counts as a run.
    bool try_again(Attempt attempt, Clock::time_point started, Clock::time_point now);
    Clock::time_point retry_at() const { return retry_at_; }
    // The modem was reached, or the device went away: the next attempt starts afresh.
    void reset() { first_unanswered_.reset(); }

  private:
    std::optional<Clock::time_point> first_unanswered_;
    Clock::time_point retry_at_{};
};
