#include "tools/download_cli/console_timer.h"

#include "port/clock.h"

void ConsoleTimer::start(unsigned timer_id, unsigned period_ms, std::uint32_t now_ms) {
    armed_ = true;
    timer_id_ = timer_id;
    period_ms_ = period_ms;
    armed_at_ms_ = now_ms;
}

void ConsoleTimer::stop(unsigned timer_id) {
    if (armed_ && timer_id == timer_id_) {
        armed_ = false;
    }
}

void run_timer_loop(ConsoleTimer& timer, const std::function<bool()>& keep_going,
                    const std::function<void(unsigned timer_id)>& on_tick) {
    Clock& clock = port_clock();
    while (timer.armed() && keep_going()) {
        const std::uint32_t now = clock.tick_ms();
        const std::uint32_t elapsed = elapsed_ms(timer.armed_at_ms(), now);
        if (elapsed < timer.period_ms()) {
            clock.sleep_ms(timer.period_ms() - elapsed);
            continue;
        }
        // The next tick of a timer that stays armed is due one period from now.
        timer.start(timer.timer_id(), timer.period_ms(), now);
        on_tick(timer.timer_id());
    }
}
