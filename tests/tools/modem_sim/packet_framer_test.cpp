#include "tools/modem_sim/packet_framer.h"

#include <gtest/gtest.h>

#include "tests/tools/modem_sim/protocol_bytes.h"
#include "tools/image_tool/image_builder.h"

namespace {

using std::chrono::milliseconds;

class PacketFramerTest : public ::testing::Test {
  protected:
    std::optional<Frame> feed(const std::vector<std::uint8_t>& bytes) {
        std::optional<Frame> frame;
        for (std::uint8_t byte : bytes) {
            auto completed = framer.push(byte, now);
            if (completed) {
                EXPECT_FALSE(frame) << "two frames from one feed";
                frame = completed;
            }
        }
        return frame;
    }

    PacketFramer framer{milliseconds(20)};
    SimTime now = SimTime{} + std::chrono::hours(1);
};

TEST_F(PacketFramerTest, CommandPacketIsWholeOnceTheLineIsQuiet) {
    EXPECT_FALSE(feed(command_packet(0x0100, 0)));
    EXPECT_EQ(framer.deadline(), now + milliseconds(20));
    EXPECT_FALSE(framer.expire(now + milliseconds(19)));
    auto frame = framer.expire(now + milliseconds(20));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::configure);
    EXPECT_EQ(frame->bytes, command_packet(0x0100, 0));
    EXPECT_FALSE(framer.deadline());
}

TEST_F(PacketFramerTest, RecognisesEachCommand) {
    std::uint8_t info[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    feed(command_packet(0x0300, 0x1234));
    EXPECT_EQ(framer.expire(now + milliseconds(20))->kind, FrameKind::restore);
    feed(erase_packet(info));
    EXPECT_EQ(framer.expire(now + milliseconds(20))->kind, FrameKind::erase);
}

TEST_F(PacketFramerTest, CommandWithWrongCheckFieldIsDropped) {
    auto packet = command_packet(0x0100, 0);
    packet[5] ^= 0x01;
    feed(packet);
    auto frame = framer.expire(now + milliseconds(20));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::dropped);
    EXPECT_EQ(frame->bytes.size(), 6u);
}

TEST_F(PacketFramerTest, RecordWhoseStartLooksLikeACommandIsARecord) {
    // Tag 0x0100, and bytes 4..5 made the check field of bytes 0..3: the first six bytes are
    // a perfectly good configure packet, but more bytes follow at once.
    std::uint8_t payload[IMAGE_PAYLOAD_BYTES] = {};
    auto start = command_packet(0x0100, 0x0000);
    payload[2] = start[4];
    payload[3] = start[5];
    ImageBytes record = make_record(0x0100, payload);
    auto frame = feed(record);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::record);
    EXPECT_EQ(frame->bytes, record);
    EXPECT_FALSE(framer.deadline());
}

TEST_F(PacketFramerTest, RecordWithWrongCheckFieldIsReportedBad) {
    ImageBytes image = build_image({.records = 1, .corrupt_record = 1});
    auto frame = feed(image);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::bad_record);
}

TEST_F(PacketFramerTest, PartialRecordIsDroppedAndTheNextPacketStandsAlone) {
    ImageBytes image = build_image({.records = 1});
    image.resize(500);
    EXPECT_FALSE(feed(image));
    auto dropped = framer.expire(now + milliseconds(20));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->kind, FrameKind::dropped);
    EXPECT_EQ(dropped->bytes.size(), 500u);

    now += milliseconds(100);
    feed(command_packet(0x0100, 0));
    EXPECT_EQ(framer.expire(now + milliseconds(20))->kind, FrameKind::configure);
}

}  // namespace
