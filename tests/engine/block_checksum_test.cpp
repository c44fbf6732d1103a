#include "engine/block_checksum.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(BlockChecksum, MatchesTheCatalogueCheckValues) {
    EXPECT_EQ(block_checksum("123456789", 9), 0x906E);
    EXPECT_EQ(block_checksum("abc", 3), 0x9E25);
    const std::uint8_t zero = 0;
    EXPECT_EQ(block_checksum(&zero, 1), 0xF078);
    EXPECT_EQ(block_checksum(&zero, 0), 0x0000);
    const std::uint8_t configure[] = {0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(block_checksum(configure, 4), 0xA602);
}

TEST(BlockChecksum, CheckFieldIsLittleEndianAfterTheCoveredBytes) {
    std::uint8_t packet[6] = {0x00, 0x01, 0x00, 0x00, 0x02, 0xA6};
    EXPECT_TRUE(check_field_matches(packet, 4));
    std::swap(packet[4], packet[5]);
    EXPECT_FALSE(check_field_matches(packet, 4));
}
