#include "tools/download_cli/console_timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fake_clock.h"

namespace {

TEST(ConsoleTimerLoop, EveryTickComesOnePeriodAfterTheTimerWasArmed) {
    FakeClock clock(1000, 0);
    PortClockBinding use_clock(clock);
    ConsoleTimer timer;
    timer.start(5, 25, clock.tick_ms());
    std::vector<std::uint32_t> ticks;

    // Like the sequencer: stop, work for 7 ms, re-arm; the third tick does not re-arm.
    run_timer_loop(
        timer, [] { return true; },
        [&](unsigned id) {
            EXPECT_EQ(id, 5u);
            ticks.push_back(clock.now());
            timer.stop(id);
            clock.advance(7);
            if (ticks.size() < 3) {
                timer.start(id, 25, clock.tick_ms());
            }
        });

    EXPECT_EQ(ticks, (std::vector<std::uint32_t>{1025, 1057, 1089}));
    EXPECT_FALSE(timer.armed());
}

TEST(ConsoleTimerLoop, TimerLeftArmedFiresAgainOnePeriodLater) {
    FakeClock clock(0, 0);
    PortClockBinding use_clock(clock);
    ConsoleTimer timer;
    timer.start(1, 25, 0);
    std::vector<std::uint32_t> ticks;

    run_timer_loop(
        timer, [&] { return ticks.size() < 4; }, [&](unsigned) { ticks.push_back(clock.now()); });

    EXPECT_EQ(ticks, (std::vector<std::uint32_t>{25, 50, 75, 100}));
    EXPECT_TRUE(timer.armed());
}

TEST(ConsoleTimerLoop, EndsAtOnceWhenNotArmedOrWhenTheWindowEnded) {
    FakeClock clock(0, 0);
    PortClockBinding use_clock(clock);
    ConsoleTimer timer;
    int ticks = 0;
    run_timer_loop(
        timer, [] { return true; }, [&](unsigned) { ++ticks; });
    EXPECT_EQ(ticks, 0);

    timer.start(1, 25, 0);
    run_timer_loop(
        timer, [] { return false; }, [&](unsigned) { ++ticks; });
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(clock.total_slept(), 0u);
}

TEST(ConsoleTimerLoop, WaitsAcrossTheTickCountWrap) {
    FakeClock clock(0xFFFFFFF0u, 0);
    PortClockBinding use_clock(clock);
    ConsoleTimer timer;
    timer.start(1, 25, clock.tick_ms());
    std::uint32_t fired_at = 0;
    run_timer_loop(
        timer, [] { return true; },
        [&](unsigned id) {
            fired_at = clock.now();
            timer.stop(id);
        });
    EXPECT_EQ(fired_at, 0xFFFFFFF0u + 25u);
    EXPECT_EQ(clock.total_slept(), 25u);
}

TEST(ConsoleTimer, StoppingAnotherIdentifierLeavesTheTimerArmed) {
    ConsoleTimer timer;
    timer.start(3, 25, 0);
    timer.stop(4);
    EXPECT_TRUE(timer.armed());
    timer.stop(3);
    EXPECT_FALSE(timer.armed());
}

}  // namespace
