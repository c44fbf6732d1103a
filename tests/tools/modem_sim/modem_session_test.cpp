#include "tools/modem_sim/modem_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "tests/tools/modem_sim/protocol_bytes.h"
#include "tools/image_tool/image_builder.h"

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

class ModemSessionTest : public ::testing::Test {
  protected:
    ModemSession& modem() {
        if (!session_) {
            session_ = std::make_unique<ModemSession>(settings, log, flash_path);
        }
        return *session_;
    }

    // Sends bytes the way the host does: all at once, then the line goes quiet.
    void send(const Bytes& bytes) {
        modem().receive(bytes.data(), bytes.size(), now);
        now += settings.packet_idle;
        modem().expire(now);
    }
    void send(const std::string& text) { send(text_bytes(text)); }

    // Everything the modem has sent by `now`.
    Bytes sent() {
        Bytes bytes;
        auto& outbox = modem().outbox();
        while (!outbox.empty() && outbox.front().not_before <= now) {
            bytes.insert(bytes.end(), outbox.front().bytes.begin(), outbox.front().bytes.end());
            outbox.pop_front();
        }
        return bytes;
    }
    Bytes exchange(const Bytes& request) {
        send(request);
        return sent();
    }
    std::string exchange(const std::string& command) {
        return text_of(exchange(text_bytes(command)));
    }

    void enter_download_mode() { ASSERT_EQ(exchange("AT*D\r"), "AT*D\r\r\nOK\r\n"); }
    // Download mode, configured and erased: ready for the first record.
    void start_programming() {
        enter_download_mode();
        configure();
        erase();
    }
    Bytes configure() { return exchange(command_packet(0x0100, 0)); }
    Bytes erase() {
        send(erase_packet(settings.device_info.data()));
        now += settings.erase_time;
        return sent();
    }
    Bytes program(std::size_t index) {
        return exchange(Bytes(image.begin() + index * IMAGE_RECORD_BYTES,
                              image.begin() + (index + 1) * IMAGE_RECORD_BYTES));
    }
    Bytes restore() { return exchange(command_packet(0x0300, settings.context_word)); }

    Bytes ack_for(std::size_t index) const {
        return with_check_field(
            {image[index * IMAGE_RECORD_BYTES], image[index * IMAGE_RECORD_BYTES + 1]});
    }
    long times_logged(const std::string& line) const {
        return std::count(log.lines().begin(), log.lines().end(), line);
    }
    bool logged(const std::string& line) const { return times_logged(line) > 0; }
    bool logged_starting(const std::string& start) const {
        return std::any_of(log.lines().begin(), log.lines().end(),
                           [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    }
    std::string record_line(std::size_t number, std::size_t index) const {
        char line[40];
        std::snprintf(line, sizeof line, "record %zu tag 0x%04x", number,
                      read_le16(image.data() + index * IMAGE_RECORD_BYTES));
        return line;
    }

    ModemSettings settings;
    EventLog log;
    std::string flash_path;
    SimTime now = SimTime{} + std::chrono::hours(1);
    ImageBytes image = build_image({.records = 6, .seed = 7, .random_tags = true});

  private:
    std::unique_ptr<ModemSession> session_;
};

bool check_field_ok(const Bytes& reply) {
    return reply.size() >= 2 && check_field_matches(reply.data(), reply.size() - 2);
}

TEST_F(ModemSessionTest, TextModeAnswersLikeAModem) {
    settings.model = "ACME 28.8";
    EXPECT_EQ(exchange("AT\r"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(exchange("ATI3\r"), "ATI3\r\r\nACME 28.8\r\n\r\nOK\r\n");
    EXPECT_EQ(exchange("AT*Y120\r"), "AT*Y120\r\r\nOK\r\n");
    EXPECT_EQ(exchange("ATQ9\r"), "ATQ9\r\r\nERROR\r\n");
    EXPECT_EQ(exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    EXPECT_FALSE(modem().download_mode());
    EXPECT_TRUE(logged("AT ATI3"));
    EXPECT_TRUE(logged("AT ATQ9"));
}

TEST_F(ModemSessionTest, ConfigureReplyCarriesDeviceInfoAndContextWord) {
    settings.context_word = 0xBEEF;
    enter_download_mode();
    EXPECT_TRUE(modem().download_mode());
    Bytes reply = configure();
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_TRUE(check_field_ok(reply));
    EXPECT_TRUE(
        std::equal(settings.device_info.begin(), settings.device_info.end(), reply.begin() + 2));
    EXPECT_EQ(read_le16(reply.data() + 12), 0xBEEF);
    EXPECT_TRUE(logged("configure"));
}

TEST_F(ModemSessionTest, CommandPacketIsAnsweredOnlyOnceTheLineIsQuiet) {
    enter_download_mode();
    Bytes packet = command_packet(0x0100, 0);
    modem().receive(packet.data(), packet.size(), now);
    EXPECT_TRUE(modem().outbox().empty());
    EXPECT_EQ(modem().deadline(), now + settings.packet_idle);
    modem().expire(now + settings.packet_idle);
    EXPECT_EQ(modem().outbox().size(), 1u);
}

TEST_F(ModemSessionTest, RequestsWithWrongCheckFieldsGetNoReply) {
    enter_download_mode();
    Bytes bad_configure = command_packet(0x0100, 0);
    bad_configure[4] ^= 0x40;
    EXPECT_TRUE(exchange(bad_configure).empty());
    Bytes bad_erase = erase_packet(settings.device_info.data());
    bad_erase[11] ^= 0x01;
    EXPECT_TRUE(exchange(bad_erase).empty());
    Bytes bad_record(image.begin(), image.begin() + IMAGE_RECORD_BYTES);
    bad_record[600] ^= 0x10;
    EXPECT_TRUE(exchange(bad_record).empty());
    EXPECT_EQ(modem().flash().record_count(), 0u);
    EXPECT_TRUE(logged("dropped 6 bytes"));
    EXPECT_TRUE(logged("dropped 12 bytes"));
    EXPECT_FALSE(logged("erase"));
    // The line is in step again for the next good request.
    EXPECT_EQ(configure().size(), 16u);
}

TEST_F(ModemSessionTest, EraseIsConfirmedAfterTheEraseTime) {
    settings.erase_time = milliseconds(250);
    enter_download_mode();
    configure();
    send(erase_packet(settings.device_info.data()));
    now += milliseconds(200);
    EXPECT_TRUE(sent().empty());
    now += milliseconds(50);
    Bytes reply = sent();
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_TRUE(check_field_ok(reply));
    EXPECT_EQ(read_le16(reply.data()), 0x0200);
}

TEST_F(ModemSessionTest, EraseWithForeignDeviceInfoIsRefused) {
    enter_download_mode();
    std::uint8_t foreign[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    send(erase_packet(foreign));
    now += settings.erase_time;
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(logged("erase refused: foreign device info"));
}

TEST_F(ModemSessionTest, RecordsAreAcknowledgedWithTheirTagAndStoredInOrder) {
    start_programming();
    for (std::size_t index = 0; index < 6; ++index) {
        Bytes ack = program(index);
        EXPECT_EQ(ack, ack_for(index)) << "record " << index + 1;
    }
    EXPECT_EQ(modem().flash().contents(), image);
    EXPECT_EQ(modem().flash().checksum_total(), image_checksum_total(image));
    EXPECT_TRUE(logged(record_line(1, 0)));
    EXPECT_TRUE(logged(record_line(6, 5)));
}

TEST_F(ModemSessionTest, RestoreWritesTheFlashAndReturnsToTextMode) {
    flash_path = (std::filesystem::temp_directory_path() /
                  ("modem_session_flash_" + std::to_string(getpid()) + ".dl"))
                     .string();
    start_programming();
    program(0);
    program(1);
    Bytes reply = restore();
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_TRUE(check_field_ok(reply));
    EXPECT_FALSE(modem().download_mode());
    EXPECT_EQ(exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    auto written = read_image_file(flash_path);
    std::filesystem::remove(flash_path);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, ImageBytes(image.begin(), image.begin() + 2 * IMAGE_RECORD_BYTES));
}

TEST_F(ModemSessionTest, RestoreWithAnotherContextWordIsRefused) {
    settings.context_word = 0x1111;
    enter_download_mode();
    EXPECT_TRUE(exchange(command_packet(0x0300, 0x2222)).empty());
    EXPECT_TRUE(modem().download_mode());
    EXPECT_TRUE(logged("restore refused: context 0x2222"));
}

TEST_F(ModemSessionTest, SilentModemLogsButNeverAnswers) {
    settings.faults.silent = true;
    EXPECT_TRUE(exchange("AT\r").empty());
    EXPECT_TRUE(exchange("AT*D\r").empty());
    EXPECT_TRUE(configure().empty());
    EXPECT_TRUE(logged("AT AT"));
    EXPECT_TRUE(logged("configure"));
}

TEST_F(ModemSessionTest, ModemAlreadyInDownloadModeIgnoresAtButConfigures) {
    settings.faults.ignore_at = true;
    EXPECT_TRUE(exchange("AT\r").empty());
    EXPECT_TRUE(logged("dropped 3 bytes"));
    EXPECT_EQ(configure().size(), 16u);
}

TEST_F(ModemSessionTest, RefusedDownloadModeKeepsTheModemInTextMode) {
    settings.faults.refuse_download_mode = true;
    EXPECT_EQ(exchange("AT*Y120\r"), "AT*Y120\r\r\nERROR\r\n");
    EXPECT_EQ(exchange("AT*D\r"), "AT*D\r\r\nERROR\r\n");
    EXPECT_FALSE(modem().download_mode());
    EXPECT_EQ(exchange("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(ModemSessionTest, CorruptsOnlyTheChosenConfigureReplies) {
    settings.faults.corrupt_configure = {1, 3};
    enter_download_mode();
    EXPECT_FALSE(check_field_ok(configure()));
    EXPECT_TRUE(check_field_ok(configure()));
    EXPECT_FALSE(check_field_ok(configure()));
    EXPECT_TRUE(check_field_ok(configure()));
}

TEST_F(ModemSessionTest, NoEraseConfirmNeverAnswersTheErase) {
    settings.faults.no_erase_confirm = true;
    enter_download_mode();
    configure();
    EXPECT_TRUE(erase().empty());
    now += milliseconds(20000);
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(logged("erase"));
}

TEST_F(ModemSessionTest, WrongTagOnARecordFailsEveryAttempt) {
    settings.faults.wrong_tag_record = 2;
    start_programming();
    EXPECT_EQ(program(0), ack_for(0));
    for (int attempt = 0; attempt < 2; ++attempt) {
        Bytes ack = program(1);
        ASSERT_EQ(ack.size(), 4u);
        EXPECT_TRUE(check_field_ok(ack)) << "only the tag is wrong";
        EXPECT_NE(read_le16(ack.data()), read_le16(image.data() + IMAGE_RECORD_BYTES));
    }
    EXPECT_EQ(modem().flash().record_count(), 2u) << "the resent record keeps its place";
    EXPECT_EQ(times_logged(record_line(2, 1)), 2);
}

TEST_F(ModemSessionTest, SilentFromARecordAcknowledgesNoRecordFromThereOn) {
    settings.faults.silent_from_record = 2;
    start_programming();
    EXPECT_EQ(program(0), ack_for(0));
    EXPECT_TRUE(program(1).empty());
    EXPECT_TRUE(program(1).empty());
    EXPECT_EQ(times_logged(record_line(2, 1)), 2) << "the resent record keeps its number";
    EXPECT_TRUE(program(2).empty());
    EXPECT_TRUE(logged(record_line(3, 2)));
    EXPECT_EQ(restore().size(), 16u) << "only records go unanswered";
}

TEST_F(ModemSessionTest, BadAckCheckOnARecordFailsEveryAttempt) {
    settings.faults.bad_ack_check_record = 1;
    start_programming();
    for (int attempt = 0; attempt < 2; ++attempt) {
        Bytes ack = program(0);
        ASSERT_EQ(ack.size(), 4u);
        EXPECT_EQ(read_le16(ack.data()), read_le16(image.data()));
        EXPECT_FALSE(check_field_ok(ack));
    }
    EXPECT_EQ(program(1), ack_for(1)) << "the next record is record 2 and is acknowledged";
}

TEST_F(ModemSessionTest, NoRestoreConfirmStaysInDownloadMode) {
    settings.faults.no_restore_confirm = true;
    enter_download_mode();
    configure();
    EXPECT_TRUE(restore().empty());
    EXPECT_TRUE(modem().download_mode());
    EXPECT_TRUE(logged("restore"));
}

TEST_F(ModemSessionTest, NoisyTextRepliesStillReadOkWithoutNul) {
    settings.faults.noisy_at = true;
    std::string reply = exchange("ATI3\r");
    EXPECT_NE(reply.find('\0'), std::string::npos);
    reply.erase(std::remove(reply.begin(), reply.end(), '\0'), reply.end());
    EXPECT_NE(reply.find("\r\n" + settings.model + "\r\n"), std::string::npos);
    EXPECT_NE(reply.find("OK"), std::string::npos);
}

TEST_F(ModemSessionTest, ExtraBytesFollowEveryReply) {
    settings.faults.extra_bytes = true;
    std::string text = exchange("AT\r");
    EXPECT_EQ(text.substr(0, 9), "AT\r\r\nOK\r\n");
    EXPECT_GT(text.size(), 9u);
    exchange("AT*D\r");
    Bytes reply = exchange(command_packet(0x0100, 0));
    ASSERT_GT(reply.size(), 16u);
    reply.resize(16);
    EXPECT_TRUE(check_field_ok(reply));
}

TEST_F(ModemSessionTest, HangupAtARecordStopsBeforeStoringIt) {
    settings.faults.hangup_record = 3;
    start_programming();
    program(0);
    program(1);
    EXPECT_TRUE(program(2).empty());
    EXPECT_TRUE(modem().hung_up());
    EXPECT_EQ(modem().flash().record_count(), 2u);
    EXPECT_TRUE(logged("hangup at record 3"));
    EXPECT_TRUE(program(3).empty());
    EXPECT_FALSE(logged_starting("record 4 "));
}

TEST_F(ModemSessionTest, EraseStartsTheFlashAfresh) {
    start_programming();
    program(0);
    program(1);
    erase();
    EXPECT_EQ(modem().flash().record_count(), 0u);
    EXPECT_EQ(program(2), ack_for(2));
    EXPECT_EQ(modem().flash().contents(), ImageBytes(image.begin() + 2 * IMAGE_RECORD_BYTES,
                                                     image.begin() + 3 * IMAGE_RECORD_BYTES));
}

}  // namespace
