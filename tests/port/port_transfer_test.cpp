// The transfer utilities over an in-memory line and a fake clock.
#include "port/port_transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/memory_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The idle hook is a plain function; tests script it through this.
std::function<int(PortObject*)> hook_action;
int hook_calls = 0;
int scripted_hook(PortObject* port) {
    ++hook_calls;
    return hook_action ? hook_action(port) : 0;
}

class TransferTest : public testing::Test {
  protected:
    void SetUp() override {
        line.clock = &clock;
        port = open_memory_port(line);
        saved_hook = port_idle_hook;
        port_idle_hook = scripted_hook;
        hook_calls = 0;
        hook_action = nullptr;
    }
    void TearDown() override {
        port_idle_hook = saved_hook;
        hook_action = nullptr;
        close_all_ports();
    }
    std::uint32_t elapsed() const { return clock.now() - start; }

    std::uint32_t start = 1000;
    FakeClock clock{start};
    PortClockBinding use_clock{clock};
    MemoryLine line;
    PortObject* port = nullptr;
    PortIdleHook saved_hook = nullptr;
};

PortObject* port_with_default_slots() {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    return port;
}

// --- port_write_string ----------------------------------------------------------------

TEST_F(TransferTest, WriteStringSendsTextThenTerminator) {
    EXPECT_EQ(port_write_string(port, "AT\r", PORT_TERM_NONE), PORT_OK);
    EXPECT_EQ(line.sent, (Bytes{'A', 'T', 13}));
    EXPECT_EQ(port->count, 3u);

    line.sent.clear();
    EXPECT_EQ(port_write_string(port, "AT", PORT_TERM_CRLF), PORT_OK);
    EXPECT_EQ(line.sent, (Bytes{'A', 'T', 13, 10}));
    EXPECT_EQ(port->count, 1u);

    line.sent.clear();
    EXPECT_EQ(port_write_string(port, "Z", 0), PORT_OK);
    EXPECT_EQ(port_write_string(port, "", 255), PORT_OK);
    EXPECT_EQ(line.sent, (Bytes{'Z', 0, 255}));
    EXPECT_EQ(port->count, 1u);
}

TEST_F(TransferTest, WriteStringRefusesTerminatorOutsideRangeAndSendsNothing) {
    for (int terminator : {256, -3}) {
        SCOPED_TRACE(terminator);
        port->status = PORT_OK;
        port->count = 99;
        EXPECT_EQ(port_write_string(port, "AT", terminator), PORT_E_BAD_ARG);
        EXPECT_EQ(port->status, PORT_E_BAD_ARG);
        EXPECT_EQ(port->count, 0u);
    }
    EXPECT_EQ(line.write_calls, 0);
}

TEST_F(TransferTest, WriteStringSendsNoTerminatorAfterAShortWrite) {
    line.tx_room = 2;
    EXPECT_EQ(port_write_string(port, "ATZ", PORT_TERM_CRLF), PORT_E_TX_FULL);
    EXPECT_EQ(line.sent, (Bytes{'A', 'T'}));
    EXPECT_EQ(port->count, 2u);
}

TEST_F(TransferTest, WriteStringStopsOnAnErrorRecordedEarlier) {
    port->status = PORT_E_BAD_BAUD;
    EXPECT_EQ(port_write_string(port, "AT", 13), PORT_E_BAD_BAUD);
    EXPECT_EQ(line.sent, (Bytes{'A', 'T'}));
}

// --- port_drain_input -----------------------------------------------------------------

TEST_F(TransferTest, DrainTakesEverythingReceivedButNotWhatIsStillOnItsWay) {
    line.deliver(Bytes(150, 'x'));
    line.deliver("later", 100);
    EXPECT_EQ(port_drain_input(port, 500), PORT_OK);
    EXPECT_EQ(line.available(), 0u);
    EXPECT_EQ(line.pending(), 5u);
    EXPECT_EQ(port_drain_input(port, 500), PORT_OK);
    EXPECT_EQ(hook_calls, 0);
}

TEST_F(TransferTest, DrainPassesOnReadErrorsOtherThanTimeout) {
    PortObject* bare = port_with_default_slots();
    EXPECT_EQ(port_drain_input(bare, 500), PORT_E_NOT_SUPPORTED);
}

TEST_F(TransferTest, DrainOfALineThatNeverFallsSilentEndsAtItsTimeout) {
    for (std::uint32_t due = 0; due < 5000; ++due) {
        line.deliver("x", due);
    }
    EXPECT_EQ(port_drain_input(port, 500), PORT_E_TIMEOUT);
    EXPECT_GE(elapsed(), 500u);
    EXPECT_LT(elapsed(), 600u);
    EXPECT_GT(line.pending(), 4000u);
    EXPECT_EQ(port->status, PORT_OK);
}

// --- port_read_exact ------------------------------------------------------------------

TEST_F(TransferTest, ReadExactGathersPiecesArrivingWithinTheTimeout) {
    line.deliver("0123", 0);
    line.deliver("456789", 50);
    line.deliver("abcdef", 120);
    char buffer[17] = {};
    EXPECT_EQ(port_read_exact(port, buffer, 16, 500), PORT_OK);
    EXPECT_STREQ(buffer, "0123456789abcdef");
    EXPECT_EQ(port->count, 16u);
    EXPECT_GE(elapsed(), 120u);
    EXPECT_LT(elapsed(), 500u);
}

TEST_F(TransferTest, ReadExactTimesOutWithThePartKeptAndCounted) {
    line.deliver("0123", 0);
    line.deliver("456789", 100);
    char buffer[17] = {};
    EXPECT_EQ(port_read_exact(port, buffer, 16, 500), PORT_E_TIMEOUT);
    EXPECT_EQ(port->count, 10u);
    EXPECT_STREQ(buffer, "0123456789");
    EXPECT_GE(elapsed(), 500u);
    EXPECT_LE(elapsed(), 505u);
    EXPECT_EQ(port->status, PORT_OK);  // a time-out is not recorded
}

TEST_F(TransferTest, ReadExactOfNothingWaitsForAnyByteWithoutTakingIt) {
    EXPECT_EQ(port_read_exact(port, nullptr, 0, 200), PORT_E_TIMEOUT);
    EXPECT_GE(elapsed(), 200u);

    line.deliver("A");
    EXPECT_EQ(port_read_exact(port, nullptr, 0, 200), PORT_OK);
    EXPECT_EQ(port->count, 0u);
    EXPECT_EQ(line.available(), 1u);
}

TEST_F(TransferTest, ReadExactWithANegativeLimitGivesUpAtTheFirstEmptyPoll) {
    EXPECT_EQ(port_read_exact(port, nullptr, 4, -5), PORT_E_TIMEOUT);
    EXPECT_EQ(hook_calls, 0);
}

TEST_F(TransferTest, ReadExactWithoutTimeoutWaitsUntilTheBytesCome) {
    hook_action = [this](PortObject*) {
        clock.advance(10);
        if (hook_calls == 20000) {
            line.deliver("OK");
        }
        return 0;
    };
    char buffer[2] = {};
    EXPECT_EQ(port_read_exact(port, buffer, 2, PORT_WAIT_FOREVER), PORT_OK);
    EXPECT_EQ(std::string(buffer, 2), "OK");
    EXPECT_GE(elapsed(), 200000u);
}

TEST_F(TransferTest, ReadExactStopsAfterAPartialReadOnAnEarlierError) {
    port->status = PORT_E_TX_FULL;
    line.deliver("0123");
    char buffer[16];
    EXPECT_EQ(port_read_exact(port, buffer, 16, 500), PORT_E_TX_FULL);
    EXPECT_EQ(port->count, 4u);
}

TEST_F(TransferTest, ReadExactOnDefaultSlotsIsNotSupported) {
    PortObject* bare = port_with_default_slots();
    char buffer[16];
    EXPECT_EQ(port_read_exact(bare, buffer, 16, 500), PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(bare->status, PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(bare->count, 0u);
}

// A line that always has one more byte waiting, each read taking 100 ms.
struct SlowLine {
    FakeClock* clock = nullptr;
    unsigned remaining = 0;
};
SlowLine slow_line;
int slow_rx_count(PortObject*) {
    return slow_line.remaining > 0 ? 1 : 0;
}
PortStatus slow_read_block(PortObject* port, void* buffer, unsigned maximum) {
    port->count = 0;
    if (maximum > 0 && slow_line.remaining > 0) {
        *static_cast<char*>(buffer) = 'x';
        --slow_line.remaining;
        port->count = 1;
    }
    slow_line.clock->advance(100);
    return PORT_OK;
}

TEST_F(TransferTest, ReadExactLooksAtTheTimeoutOnlyWhenNothingIsWaiting) {
    PortObject* slow = port_with_default_slots();
    slow->rx_count = slow_rx_count;
    slow->read_block = slow_read_block;
    slow_line = SlowLine{&clock, 16};
    char buffer[16];
    EXPECT_EQ(port_read_exact(slow, buffer, 16, 500), PORT_OK);
    EXPECT_EQ(slow->count, 16u);
    EXPECT_GE(elapsed(), 1600u);
}

// A device that reports waiting input but delivers none to every read.
int phantom_rx_count(PortObject*) {
    return 5;
}
PortStatus empty_read_block(PortObject* port, void*, unsigned) {
    port->count = 0;
    return PORT_OK;
}

TEST_F(TransferTest, ReadExactEndsAtItsTimeoutWhenReportedInputNeverComes) {
    PortObject* phantom = port_with_default_slots();
    phantom->rx_count = phantom_rx_count;
    phantom->read_block = empty_read_block;
    char buffer[4];
    EXPECT_EQ(port_read_exact(phantom, buffer, 4, 500), PORT_E_TIMEOUT);
    EXPECT_EQ(phantom->count, 0u);
    EXPECT_GE(elapsed(), 500u);
    EXPECT_GT(hook_calls, 0);
}

TEST_F(TransferTest, NegativeHookResultEndsEveryWait) {
    hook_action = [](PortObject*) { return -100; };
    char buffer[4];
    EXPECT_EQ(port_read_exact(port, buffer, 4, 500), -100);
    EXPECT_EQ(hook_calls, 1);
    EXPECT_EQ(port_read_exact(port, buffer, 4, PORT_WAIT_FOREVER), -100);
    EXPECT_EQ(port_wait(port, 1000), -100);
    EXPECT_EQ(hook_calls, 3);
}

TEST_F(TransferTest, HookSeesThePortWaitedOn) {
    PortObject* seen = nullptr;
    hook_action = [&seen](PortObject* waited_on) {
        seen = waited_on;
        return 0;
    };
    port_wait(port, 5);
    EXPECT_EQ(seen, port);
}

TEST_F(TransferTest, ReadSleepsOnTheLineBetweenPollsNeverLongerThanAMillisecond) {
    line.deliver("OK", 40);
    char reply[2];
    EXPECT_EQ(port_read_exact(port, reply, 2, 500), PORT_OK);
    EXPECT_GT(line.input_waits, 0);
    EXPECT_EQ(line.longest_input_wait, 1);
    // Each poll sleeps (1 ms) and reads the clock (1 ms): the reply is seen within 2 ms.
    EXPECT_LE(elapsed(), 42u);
}

// --- port_wait ------------------------------------------------------------------------

TEST_F(TransferTest, WaitSleepsThroughTheClockEvenWhileInputIsWaiting) {
    line.deliver("unread garbage");
    EXPECT_EQ(port_wait(port, 100), PORT_OK);
    EXPECT_GE(clock.total_slept(), 45u);
    EXPECT_LE(hook_calls, 100);
    EXPECT_LT(elapsed(), 103u);
}

TEST_F(TransferTest, WaitCallsTheHookUntilTheTimeHasPassed) {
    EXPECT_EQ(port_wait(port, 0), PORT_OK);
    EXPECT_EQ(port_wait(port, -5), PORT_OK);
    EXPECT_EQ(hook_calls, 0);

    EXPECT_EQ(port_wait(port, 100), PORT_OK);
    EXPECT_GE(elapsed(), 100u);
    EXPECT_GT(hook_calls, 0);
}

TEST(TransferClockWrap, WaitsMeasureElapsedTimeAcrossTheTickWrap) {
    const std::uint32_t start = 0xFFFFFF00u;  // 256 ms before the tick count wraps
    FakeClock clock(start);
    PortClockBinding use_clock(clock);
    MemoryLine line;
    line.clock = &clock;
    PortObject* port = open_memory_port(line);
    PortIdleHook saved = port_idle_hook;
    port_idle_hook = scripted_hook;
    hook_calls = 0;

    EXPECT_EQ(port_wait(port, 1000), PORT_OK);
    EXPECT_GE(clock.now() - start, 1000u);
    EXPECT_LT(clock.now(), start);  // the count did wrap
    EXPECT_LE(hook_calls, 1000);

    clock.advance(0xFFFFFFFFu - clock.now() - 100);  // 100 ms before the next wrap
    const std::uint32_t read_start = clock.now();
    char buffer[4];
    EXPECT_EQ(port_read_exact(port, buffer, 4, 500), PORT_E_TIMEOUT);
    EXPECT_GE(clock.now() - read_start, 500u);
    EXPECT_LE(clock.now() - read_start, 505u);

    port_idle_hook = saved;
    port->close(port);
}

// --- default hook ---------------------------------------------------------------------

int dispatches = 0;
void count_dispatch() {
    ++dispatches;
}

TEST(DefaultIdleHook, HandsPendingEventsToTheRegisteredFrontEnd) {
    EXPECT_EQ(port_idle_hook, &dispatch_pending_messages);
    EXPECT_EQ(dispatch_pending_messages(nullptr), 0);
    set_pending_message_dispatcher(count_dispatch);
    dispatches = 0;
    EXPECT_EQ(dispatch_pending_messages(nullptr), 0);
    EXPECT_EQ(dispatches, 1);
    set_pending_message_dispatcher(nullptr);
    EXPECT_EQ(dispatch_pending_messages(nullptr), 0);
    EXPECT_EQ(dispatches, 1);
}

}  // namespace
