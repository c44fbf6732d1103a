#include "engine/at_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/fake_clock.h"
#include "tests/support/memory_port.h"

namespace {

class AtCommandTest : public ::testing::Test {
  protected:
    AtCommandTest() : scoped_clock(clock) {
        line.clock = &clock;
        port = open_memory_port(line);
    }
    ~AtCommandTest() override { port->close(port); }

    // Answers every command line with answer, delay_ms after it was written.
    void answer_with(std::string answer, std::uint32_t delay_ms = 3) {
        line.on_write = [answer, delay_ms](MemoryLine& l, const std::uint8_t*, std::size_t) {
            l.deliver(std::vector<std::uint8_t>(answer.begin(), answer.end()), delay_ms);
        };
    }
    std::string sent() const { return std::string(line.sent.begin(), line.sent.end()); }

    FakeClock clock;
    PortClockBinding scoped_clock;
    MemoryLine line;
    PortObject* port;
};

TEST_F(AtCommandTest, SendsTheLineWithACarriageReturnOnlyAndWaitsForOk) {
    answer_with("AT\r\r\nOK\r\n");
    EXPECT_EQ(send_at_command(port, "AT", nullptr), 0);
    EXPECT_EQ(sent(), "AT\r");
    EXPECT_EQ(line.write_calls, 1);
    EXPECT_EQ(line.clear_tx_calls, 1);
}

TEST_F(AtCommandTest, ReplyBufferGivesTheExpectedTextAndReceivesEverythingIncludingTheEcho) {
    answer_with("ATI3\r\r\nKV-56 Rev 3\r\n\r\nOK\r\n");
    char reply[AT_BUFFER_SIZE] = "OK";
    EXPECT_EQ(send_at_command(port, "ATI3", reply), 0);
    EXPECT_STREQ(reply, "ATI3\r\r\nKV-56 Rev 3\r\n\r\nOK");
    // What came after the match stays in the port for the next exchange's drain.
    EXPECT_EQ(line.pending(), 2u);
}

TEST_F(AtCommandTest, MatchesAnywhereCaseSensitively) {
    answer_with("ATX\r\r\nBROKEN\r\n");  // "OK" inside a longer word
    EXPECT_EQ(send_at_command(port, "ATX", nullptr), 0);

    char reply[AT_BUFFER_SIZE] = "ATX";  // found in the echo alone
    line.on_write = [](MemoryLine& l, const std::uint8_t* bytes, std::size_t n) {
        l.deliver(std::vector<std::uint8_t>(bytes, bytes + n));
    };
    EXPECT_EQ(send_at_command(port, "ATX", reply), 0);
    EXPECT_STREQ(reply, "ATX");

    answer_with("at\r\r\nok\r\n");
    EXPECT_EQ(send_at_command(port, "AT", nullptr), -1);
}

TEST_F(AtCommandTest, NulBytesAreSkippedAndDoNotEndTheText) {
    line.on_write = [](MemoryLine& l, const std::uint8_t*, std::size_t) {
        l.deliver(std::vector<std::uint8_t>{'I', 'D', 0, 'X', 0, 0, 'O', 'K'}, 1);
    };
    char reply[AT_BUFFER_SIZE] = "IDXOK";
    EXPECT_EQ(send_at_command(port, "ATI3", reply), 0);
    EXPECT_STREQ(reply, "IDXOK");
}

TEST_F(AtCommandTest, NoExpectedTextWaitsTheFullSecondAndLeavesTheReplyUnchanged) {
    answer_with("AT\r\r\nERROR\r\n");
    char reply[AT_BUFFER_SIZE] = "OK";
    const std::uint32_t start = clock.now();
    EXPECT_EQ(send_at_command(port, "ATI3", reply), -1);
    const std::uint32_t elapsed = clock.now() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 1010u);
    EXPECT_STREQ(reply, "OK");
}

TEST_F(AtCommandTest, WaitsForTheReplyOnTheLineAMillisecondAtATime) {
    answer_with("AT\r\r\nOK\r\n", 300);
    EXPECT_EQ(send_at_command(port, "AT", nullptr), 0);
    EXPECT_GT(line.input_waits, 0);
    EXPECT_EQ(line.longest_input_wait, 1);
}

TEST_F(AtCommandTest, StaleInputIsDrainedBeforeTheCommandGoesOut) {
    line.deliver("OK\r\n");  // a late answer to something earlier
    answer_with("AT\r\r\nERROR\r\n");
    EXPECT_EQ(send_at_command(port, "AT", nullptr), -1);
}

TEST_F(AtCommandTest, LongReplyKeepsItsNewestCharactersWithinTheBuffer) {
    answer_with(std::string(600, 'x') + "OK\r\n");
    char reply[AT_BUFFER_SIZE + 16];
    std::memset(reply, '#', sizeof reply);
    std::strcpy(reply, "OK");
    EXPECT_EQ(send_at_command(port, "ATI3", reply), 0);
    EXPECT_EQ(std::strlen(reply), AT_BUFFER_SIZE - 1);
    EXPECT_EQ(std::string(reply), std::string(257, 'x') + "OK");
    for (std::size_t i = AT_BUFFER_SIZE; i < sizeof reply; ++i) {
        ASSERT_EQ(reply[i], '#') << "written past the reply buffer at " << i;
    }
}

TEST_F(AtCommandTest, OverlongCommandIsCutToFitTheLine) {
    std::string command(400, 'A');
    EXPECT_EQ(send_at_command(port, command.c_str(), nullptr), -1);
    EXPECT_EQ(sent(), std::string(258, 'A') + "\r");
}

}  // namespace
