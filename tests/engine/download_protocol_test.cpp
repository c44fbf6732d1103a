#include "engine/download_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/block_checksum.h"
#include "port/port_trace.h"
#include "tests/engine/image_files.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_modem.h"
#include "tests/support/memory_port.h"
#include "tools/modem_sim/modem_replies.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

ModemSettings in_download_mode() {
    ModemSettings settings = test_modem_settings();
    settings.faults.ignore_at = true;
    return settings;
}

class DownloadProtocolTest : public ::testing::Test {
  protected:
    DownloadProtocolTest() : scoped_clock(clock), modem(line, settings) {
        line.clock = &clock;
        port = open_memory_port(line);
    }
    ~DownloadProtocolTest() override { port->close(port); }

    // In place of the modem, replies with `replies` in turn, one per request (kept in
    // `requests`), after a short delay; none left: silence.
    void answer_with(std::vector<Bytes> replies) {
        line.on_write = [this, replies, next = std::size_t{0}](
                            MemoryLine& l, const std::uint8_t* bytes, std::size_t n) mutable {
            requests.emplace_back(bytes, bytes + n);
            if (next < replies.size()) {
                l.deliver(replies[next++], 3);
            }
        };
    }
    std::uint32_t elapsed_since(std::uint32_t start) const { return clock.now() - start; }

    FakeClock clock;
    PortClockBinding scoped_clock;
    MemoryLine line;
    const ModemSettings settings = in_download_mode();
    MemoryModem modem;
    std::vector<Bytes> requests;
    PortObject* port;
    std::uint8_t reply[COMMAND_REPLY_SIZE] = {};
};

TEST_F(DownloadProtocolTest, RequestsCarryTheirFieldsAndCheckField) {
    ASSERT_EQ(exchange_command(port, CMD_CONFIGURE, 0, reply), 0);
    ASSERT_EQ(modem.packets().size(), 1u);
    EXPECT_EQ(modem.packets()[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x02, 0xA6}));
    EXPECT_EQ(Bytes(reply, reply + 16),
              make_command_reply(CMD_CONFIGURE, settings.device_info, settings.context_word));
    const std::uint16_t context_word = read_le16(reply + 12);

    const std::uint8_t device_info[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(erase_memory(port, device_info, reply), 0);
    EXPECT_EQ(modem.packets()[1], (Bytes{0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 0x25, 0x16}));

    Bytes record = make_image_record(0x4321, 7);
    std::uint8_t ack[BLOCK_ACK_SIZE];
    ASSERT_EQ(program_block(port, record.data(), 1, ack), 0);
    EXPECT_EQ(modem.packets()[2], record);
    EXPECT_EQ(Bytes(ack, ack + 4), make_block_ack(0x4321));

    ASSERT_EQ(exchange_command(port, CMD_RESTORE, context_word, reply), 0);
    EXPECT_EQ(modem.packets()[3], (Bytes{0x00, 0x03, 0x34, 0x12, 0xEB, 0xF1}));
    EXPECT_EQ(line.write_calls, 4) << "every request goes out in one write";
}

TEST_F(DownloadProtocolTest, CorruptFirstReplyIsRetriedOnceWithTheSameBytes) {
    // The first exchange's first reply, then both of the second exchange.
    modem.faults().corrupt_configure = {1, 3, 4};
    EXPECT_EQ(exchange_command(port, CMD_CONFIGURE, 0, reply), 0);
    ASSERT_EQ(modem.packets().size(), 2u);
    EXPECT_EQ(modem.packets()[0], modem.packets()[1]);
    EXPECT_EQ(line.clear_tx_calls, 2);

    EXPECT_EQ(exchange_command(port, CMD_CONFIGURE, 0, reply), -1);
    EXPECT_EQ(modem.packets().size(), 4u);
}

TEST_F(DownloadProtocolTest, SilenceFailsAfterTwoFullTimeouts) {
    modem.faults().silent = true;
    struct Case {
        const char* name;
        std::function<int()> exchange;
        std::uint32_t expected_ms;
    };
    const std::uint8_t device_info[8] = {};
    Bytes record = make_image_record(1, 1);
    std::uint8_t ack[BLOCK_ACK_SIZE];
    const Case cases[] = {
        {"configure", [&] { return exchange_command(port, CMD_CONFIGURE, 0, reply); }, 1000},
        {"erase", [&] { return erase_memory(port, device_info, reply); }, 20000},
        {"program", [&] { return program_block(port, record.data(), 1, ack); }, 2000},
    };
    for (const Case& c : cases) {
        const std::size_t requests_before = modem.packets().size();
        const std::uint32_t start = clock.now();
        EXPECT_EQ(c.exchange(), -1) << c.name;
        EXPECT_GE(elapsed_since(start), c.expected_ms) << c.name;
        EXPECT_LT(elapsed_since(start), c.expected_ms + 20) << c.name;
        EXPECT_EQ(modem.packets().size() - requests_before, 2u) << c.name;
    }
}

TEST_F(DownloadProtocolTest, AcknowledgementMustRepeatTheRecordTag) {
    Bytes record = make_image_record(0x0042, 3);
    std::uint8_t ack[BLOCK_ACK_SIZE];
    answer_with({make_block_ack(0x0043), make_block_ack(0x0042)});
    EXPECT_EQ(program_block(port, record.data(), 1, ack), 0);
    EXPECT_EQ(requests.size(), 2u);

    requests.clear();
    answer_with({make_block_ack(0x0043), make_block_ack(0x4200)});
    EXPECT_EQ(program_block(port, record.data(), 1, ack), -1);
    EXPECT_EQ(requests.size(), 2u);

    Bytes bad_check = make_block_ack(0x0042);
    bad_check[3] ^= 0x80;
    answer_with({bad_check, bad_check});
    EXPECT_EQ(program_block(port, record.data(), 1, ack), -1);
}

TEST_F(DownloadProtocolTest, TraceNamesTheRecordItsSecondAttemptAndTheirAcknowledgements) {
    std::ostringstream out;
    {
        PortTrace trace(out, clock);
        trace.record_open("COM1", "memory", 115200, 'N', 8, 1, port);
        Bytes record = make_image_record(0x0042, 3);
        std::uint8_t ack[BLOCK_ACK_SIZE];
        answer_with({make_block_ack(0x0043), make_block_ack(0x0042)});
        ASSERT_EQ(program_block(port, record.data(), 17, ack), 0);
    }
    std::vector<std::string> events;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find(" ms  "); at != std::string::npos && at < 15) {
            events.push_back(line.substr(at + 5));
        }
    }
    EXPECT_EQ(events, (std::vector<std::string>{
                          "open COM1 (memory) 115200 N81: ok",
                          "TX COM1 record 17, 1028 bytes",
                          "RX COM1 acknowledgement of record 17, 4 bytes",
                          "TX COM1 record 17 again, 1028 bytes",
                          "RX COM1 acknowledgement of record 17, 4 bytes",
                      }));
}

TEST_F(DownloadProtocolTest, StaleInputIsDrainedAndSurplusWaitsForTheNextDrain) {
    const std::array<std::uint8_t, 8> stale_info = {9, 9, 9, 9, 9, 9, 9, 9};
    line.deliver(make_command_reply(CMD_CONFIGURE, stale_info, 0x7777));
    Bytes fresh = make_command_reply(CMD_CONFIGURE, settings.device_info, 0x1234);
    Bytes fresh_and_surplus = fresh;
    fresh_and_surplus.insert(fresh_and_surplus.end(), {0xEE, 0xEE, 0xEE});
    answer_with({fresh_and_surplus, make_command_reply(CMD_RESTORE, settings.device_info, 1)});

    ASSERT_EQ(exchange_command(port, CMD_CONFIGURE, 0, reply), 0);
    EXPECT_EQ(Bytes(reply, reply + 16), fresh);
    EXPECT_EQ(line.pending(), 3u);
    ASSERT_EQ(exchange_command(port, CMD_RESTORE, 0x1234, reply), 0);
    EXPECT_EQ(read_le16(reply + 12), 1);
}

TEST_F(DownloadProtocolTest, RetryDrainsWhatTheFailedAttemptLeftBehind) {
    Bytes corrupt_and_surplus = make_command_reply(CMD_CONFIGURE, settings.device_info, 0x1234);
    corrupt_and_surplus[15] ^= 0xFF;
    corrupt_and_surplus.insert(corrupt_and_surplus.end(), {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    const Bytes good = make_command_reply(CMD_CONFIGURE, settings.device_info, 0x1234);
    answer_with({corrupt_and_surplus, good});

    ASSERT_EQ(exchange_command(port, CMD_CONFIGURE, 0, reply), 0);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(Bytes(reply, reply + 16), good);
}

TEST_F(DownloadProtocolTest, ReplyIsJudgedByItsCheckFieldAlone) {
    Bytes odd(16, 0x5A);
    write_le16(odd.data() + 14, block_checksum(odd.data(), 14));
    answer_with({odd});
    EXPECT_EQ(exchange_command(port, CMD_RESTORE, 0, reply), 0);
}

TEST_F(DownloadProtocolTest, RequestTheQueueRefusesFailsWithoutWaiting) {
    line.tx_room = 100;
    Bytes record = make_image_record(1, 1);
    std::uint8_t ack[BLOCK_ACK_SIZE];
    const std::uint32_t start = clock.now();
    EXPECT_EQ(program_block(port, record.data(), 1, ack), -1);
    EXPECT_LT(elapsed_since(start), 10u);
    EXPECT_EQ(line.write_calls, 2);
}

}  // namespace
