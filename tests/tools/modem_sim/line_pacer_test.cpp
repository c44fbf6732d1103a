#include "tools/modem_sim/line_pacer.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Moves `total` bytes as fast as the pacer allows, jumping the clock to each next allowance
// as a caller woken by its timer would; returns how long that took.
nanoseconds time_to_move(LinePacer& pacer, std::size_t total, SimTime start,
                         int* wake_ups = nullptr) {
    SimTime now = start;
    std::size_t moved = 0;
    while (moved < total) {
        std::size_t count = std::min(total - moved, pacer.allowance(now));
        if (count == 0) {
            now = pacer.next_allowance(now);
            if (wake_ups != nullptr) {
                ++*wake_ups;
            }
            continue;
        }
        pacer.moved(count, now);
        moved += count;
    }
    return now - start;
}

TEST(LinePacer, TenBitsPerByte) {
    EXPECT_EQ(LinePacer(9600).byte_time(), nanoseconds(1'041'666));
    EXPECT_EQ(LinePacer(115200).byte_time(), nanoseconds(86'805));
}

TEST(LinePacer, OneSecondOfLineTakesOneSecond) {
    SimTime start = SimTime{} + std::chrono::hours(1);
    for (unsigned baud : {2400u, 57600u, 115200u}) {
        LinePacer pacer(baud);
        nanoseconds taken = time_to_move(pacer, baud / 10, start);
        // The pacer lets bytes run ahead of the line by a few milliseconds, or one byte.
        EXPECT_GE(taken, milliseconds(990)) << baud;
        EXPECT_LE(taken, milliseconds(1000)) << baud;
    }
}

TEST(LinePacer, BytesMoveInChunksNotOneByOne) {
    LinePacer pacer(115200);
    int wake_ups = 0;
    time_to_move(pacer, 11520, SimTime{} + std::chrono::hours(1), &wake_ups);
    EXPECT_LT(wake_ups, 11520 / 10);
    EXPECT_GT(wake_ups, 0);
}

TEST(LinePacer, AnIdleLineDoesNotSaveUpCredit) {
    SimTime start = SimTime{} + std::chrono::hours(1);
    LinePacer pacer(115200);
    pacer.moved(10, start);
    SimTime later = start + std::chrono::seconds(10);
    EXPECT_LE(pacer.allowance(later), 47u) << "about 4 ms of bytes, not 10 s of them";
    EXPECT_GE(time_to_move(pacer, 11520, later), milliseconds(995));
}

TEST(LinePacer, UnpacedLetsEverythingThrough) {
    LinePacer pacer(0);
    SimTime now = SimTime{} + std::chrono::hours(1);
    pacer.moved(1'000'000, now);
    EXPECT_GE(pacer.allowance(now), 1'000'000u);
    EXPECT_EQ(pacer.next_allowance(now), now);
}

}  // namespace
