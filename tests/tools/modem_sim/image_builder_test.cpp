#include "tools/image_tool/image_builder.h"

#include <gtest/gtest.h>

#include "engine/block_checksum.h"

namespace {

TEST(ImageBuilder, DefaultImageIs224GoodRecordsTaggedInOrder) {
    ImageBytes image = build_image({});
    ASSERT_EQ(image.size(), 224u * 1028u);
    EXPECT_EQ(count_leading_good_records(image), 224u);
    EXPECT_EQ(read_le16(image.data()), 0u);
    EXPECT_EQ(read_le16(image.data() + 223 * 1028), 223u);
}

TEST(ImageBuilder, SeedNamesTheImage) {
    EXPECT_EQ(build_image({.seed = 5}), build_image({.seed = 5}));
    EXPECT_NE(build_image({.seed = 5}), build_image({.seed = 6}));
}

TEST(ImageBuilder, CorruptRecordEndsTheGoodRun) {
    ImageBytes image = build_image({.records = 10, .corrupt_record = 4});
    EXPECT_EQ(count_leading_good_records(image), 3u);
    EXPECT_FALSE(check_field_matches(image.data() + 3 * 1028, 1026));
}

TEST(ImageBuilder, TailIsAnIncompleteRecord) {
    ImageBytes image = build_image({.records = 224, .tail_bytes = 100});
    EXPECT_EQ(image.size(), 224u * 1028u + 100u);
    EXPECT_EQ(count_leading_good_records(image), 224u);
}

TEST(ImageBuilder, RecordShareCoversBytesFourToTheEnd) {
    std::uint8_t payload[IMAGE_PAYLOAD_BYTES] = {};
    payload[0] = 0x55;  // bytes 2..3 of the record are not part of the share
    ImageBytes a = make_record(0x0001, payload);
    payload[0] = 0x00;
    ImageBytes b = make_record(0x0002, payload);
    // Tag and bytes 2..3 differ, so the check fields differ too: the shares differ.
    EXPECT_NE(record_total_share(a.data()), record_total_share(b.data()));
    EXPECT_EQ(record_total_share(a.data()), block_checksum(a.data() + 4, 1024));
}

TEST(ImageBuilder, ChecksumTotalWrapsAndStopsAt224Records) {
    ImageBytes image = build_image({.records = 225});
    std::uint32_t sum = 0;
    for (std::size_t index = 0; index < 224; ++index) {
        sum += block_checksum(image.data() + index * 1028 + 4, 1024);
    }
    ASSERT_GT(sum, 0xFFFFu) << "the sample must exercise the wrap";
    EXPECT_EQ(image_checksum_total(image), sum & 0xFFFF);
}

}  // namespace
