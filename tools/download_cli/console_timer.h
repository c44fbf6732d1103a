#pragma once

#include <cstdint>
#include <functional>

// The console's stand-in for the window timer that drives the download sequencer: one
// timer, armed with an identifier and a period, stopped and re-armed by the sequencer.
class ConsoleTimer {
  public:
    void start(unsigned timer_id, unsigned period_ms, std::uint32_t now_ms);
    // Like a window timer, stopping an identifier that is not armed does nothing.
    void stop(unsigned timer_id);

    bool armed() const { return armed_; }
    unsigned timer_id() const { return timer_id_; }
    unsigned period_ms() const { return period_ms_; }
    std::uint32_t armed_at_ms() const { return armed_at_ms_; }

  private:
    bool armed_ = false;
    unsigned timer_id_ = 0;
    unsigned period_ms_ = 0;
    std::uint32_t armed_at_ms_ = 0;
};

// Delivers the timer's ticks: while the timer is armed and keep_going() holds, waits on
// port_clock() until one period after arming and calls on_tick with the timer's identifier. A timer
// left armed by the tick fires again one period later, as a window timer would. Returns
// when the timer is no longer armed or keep_going() turns false.
void run_timer_loop(ConsoleTimer& timer, const std::function<bool()>& keep_going,
                    const std::function<void(unsigned timer_id)>& on_tick);
