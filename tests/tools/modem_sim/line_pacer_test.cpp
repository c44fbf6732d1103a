#include "tools/modem_sim/line_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const SimTime START_TIME = SimTime{} + std::chrono::hours(1);

// The exact moment a 115200 baud line finishes its nth byte (1-based) after `from`.
SimTime finished_at_115200(SimTime from, std::size_t n) {
    return from + nanoseconds(static_cast<std::int64_t>(n) * 10 * 1'000'000'000 / 115200);
}

// Takes bytes off the line as a caller woken by its timer would, `late` after each wake-up
// it asked for; returns the moment each byte was handed on.
std::vector<SimTime> deliver_all(LinePacer& line, SimTime now, nanoseconds late = {}) {
    std::vector<SimTime> handed_on;
    while (auto next = line.next_delivery()) {
        now = std::max(now, *next + late);
        std::size_t count = line.arrived(now).size();
        line.take(count, now);
        handed_on.insert(handed_on.end(), count, now);
    }
    return handed_on;
}

TEST(LinePacer, APacketTakesItsLineTimeAndNoByteComesEarly) {
    LinePacer line(115200);
    std::vector<std::uint8_t> packet(1028, 0x55);
    line.send(packet, START_TIME);
    auto handed_on = deliver_all(line, START_TIME);

    ASSERT_EQ(handed_on.size(), 1028u);
    for (std::size_t i = 0; i < handed_on.size(); ++i) {
        ASSERT_GE(handed_on[i], finished_at_115200(START_TIME, i + 1)) << "byte " << i;
    }
    EXPECT_EQ(handed_on.front(), finished_at_115200(START_TIME, 1));
    // 1027 byte times from the first byte to the last: 89.15 ms, within 0.5% of 89.2 ms.
    using Milliseconds = std::chrono::duration<double, std::milli>;
    double first_to_last = Milliseconds(handed_on.back() - handed_on.front()).count();
    EXPECT_NEAR(first_to_last, 89.2, 89.2 * 0.005);
    EXPECT_EQ(handed_on.back(), finished_at_115200(START_TIME, 1028));
}

TEST(LinePacer, MiddleBytesAreCollectedInChunks) {
    LinePacer line(115200);
    std::vector<std::uint8_t> packet(1028, 0);
    line.send(packet, START_TIME);
    std::size_t wake_ups = 0;
    SimTime now = START_TIME;
    while (auto next = line.next_delivery()) {
        now = *next;
        line.take(line.arrived(now).size(), now);
        ++wake_ups;
    }
    EXPECT_LT(wake_ups, 1028u / 10);
}

TEST(LinePacer, BytesSentBehindOthersWaitForTheLineAndLateWakeUpsDoNotAddUp) {
    LinePacer line(115200);
    std::vector<std::uint8_t> packet(1028, 0);
    line.send(packet, START_TIME);
    // The second packet is ready while the first is still crossing: it follows straight on.
    line.send(packet, START_TIME + milliseconds(10));
    auto handed_on = deliver_all(line, START_TIME, microseconds(700));

    ASSERT_EQ(handed_on.size(), 2056u);
    for (std::size_t i = 0; i < handed_on.size(); ++i) {
        ASSERT_GE(handed_on[i], finished_at_115200(START_TIME, i + 1)) << "byte " << i;
    }
    EXPECT_LE(handed_on.back(), finished_at_115200(START_TIME, 2056) + microseconds(700));
}

TEST(LinePacer, TheAnswerToLateBytesIsTimedFromWhenTheyReallyArrived) {
    LinePacer line(115200);
    std::vector<std::uint8_t> packet(6, 0);
    line.send(packet, START_TIME);
    SimTime woke = START_TIME + milliseconds(5);
    EXPECT_EQ(line.arrived(woke).size(), 6u);
    EXPECT_EQ(line.take(6, woke), finished_at_115200(START_TIME, 6));
}

TEST(LinePacer, AnIdleLineSavesUpNoCredit) {
    LinePacer line(115200);
    std::vector<std::uint8_t> bytes(10, 0);
    line.send(bytes, START_TIME);
    deliver_all(line, START_TIME);
    SimTime later = START_TIME + std::chrono::seconds(10);
    line.send(bytes, later);
    EXPECT_TRUE(line.arrived(later).empty());
    auto handed_on = deliver_all(line, later);
    ASSERT_EQ(handed_on.size(), 10u);
    EXPECT_EQ(handed_on.back(), finished_at_115200(later, 10));
}

TEST(LinePacer, SlowerLinesTakeLonger) {
    for (unsigned baud : {2400u, 57600u}) {
        LinePacer line(baud);
        std::vector<std::uint8_t> second(baud / 10, 0);
        line.send(second, START_TIME);
        auto handed_on = deliver_all(line, START_TIME);
        ASSERT_EQ(handed_on.size(), second.size());
        EXPECT_EQ(handed_on.back(), START_TIME + std::chrono::seconds(1)) << baud;
    }
}

TEST(LinePacer, UnpacedDeliversEverythingAtOnce) {
    LinePacer line(0);
    std::vector<std::uint8_t> bytes(100'000, 0);
    line.send(bytes, START_TIME);
    EXPECT_EQ(line.arrived(START_TIME).size(), bytes.size());
    line.take(bytes.size(), START_TIME);
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(line.next_delivery());
}

}  // namespace
