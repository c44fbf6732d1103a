#include "engine/modem_map.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

const std::string ati3_reply = "ATI3\r\r\nKV-56 Rev 3 Global\r\n\r\nOK";

TEST(ModemMap, EachLineWithTwoWordsIsAnEntryInFileOrder) {
    auto entries = parse_modem_map(
        "KV-56  images/kv56.dl\n"
        "lonely\n"
        "\n"
        "\t KV-33\tkv33.dl   trailing words ignored\r\n"
        "# not-a-comment  x.dl\n"
        "last-line-without-newline last.dl");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].model_text, "KV-56");
    EXPECT_EQ(entries[0].image_path, "images/kv56.dl");
    EXPECT_EQ(entries[1].model_text, "KV-33");
    EXPECT_EQ(entries[1].image_path, "kv33.dl");
    EXPECT_EQ(entries[2].model_text, "#");
    EXPECT_EQ(entries[2].image_path, "not-a-comment");
    EXPECT_EQ(entries[3].image_path, "last.dl");
}

TEST(ModemMap, QuotedModelTextKeepsItsSpacesAndSkipsRepeatedQuotes) {
    auto entry = parse_modem_map_line("\"KV-56 Rev 3\" kv56r3.dl\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->model_text, "KV-56 Rev 3");
    EXPECT_EQ(entry->image_path, "kv56r3.dl");

    entry = parse_modem_map_line("  \"KV 9\"\"\"   kv9.dl");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->model_text, "KV 9");
    EXPECT_EQ(entry->image_path, "kv9.dl");

    entry = parse_modem_map_line("\"no closing quote  here\n");
    EXPECT_FALSE(entry) << "the model text runs to the end of the line, leaving no path";
    EXPECT_FALSE(parse_modem_map_line("\"\" empty.dl"));
    EXPECT_FALSE(parse_modem_map_line("\"KV only\""));
    EXPECT_FALSE(parse_modem_map_line("\"single"));
}

TEST(ModemMap, FirstMatchingLineWinsAndMatchingIsACaseSensitiveSubstring) {
    const std::string map =
        "kv-56 lower.dl\n"
        "Rev first.dl\n"
        "KV-56 second.dl\n";
    EXPECT_EQ(find_modem_image(map, ati3_reply), "first.dl");
    EXPECT_EQ(find_modem_image("ATI3 echo.dl\n", ati3_reply), "echo.dl");
    EXPECT_EQ(find_modem_image("\"Rev 3 Global\" q.dl\nKV x.dl", ati3_reply), "q.dl");
    EXPECT_EQ(find_modem_image("\"Rev 3  Global\" q.dl\nKV x.dl", ati3_reply), "x.dl");
    EXPECT_FALSE(find_modem_image("kv-56 lower.dl\nsolo\n", ati3_reply));
    EXPECT_FALSE(find_modem_image("", ati3_reply));
}

TEST(ModemMap, LongLineIsReadAsItsFirstPieceOnlyAndWordsAreNeverCut) {
    // The rest of a line beyond 519 characters is skipped: here it would match.
    const std::string long_line =
        std::string(300, 'M') + " " + std::string(300, 'P') + " KV-56 tail.dl\nRev next.dl\n";
    EXPECT_EQ(find_modem_image(long_line, ati3_reply), "next.dl");
    auto entries = parse_modem_map(long_line);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].model_text, std::string(300, 'M'));
    EXPECT_EQ(entries[0].image_path, std::string(218, 'P'));

    // A path too long for the current download path stays whole, so that it is refused
    // rather than cut to the name of another file.
    const std::string long_path = std::string(300, 'p') + ".dl";
    EXPECT_EQ(find_modem_image("KV-56 " + long_path, ati3_reply), long_path);
}

TEST(ModemMap, NulByteEndsTheLine) {
    EXPECT_FALSE(parse_modem_map_line(std::string("KV\0 x.dl", 8)));
    EXPECT_EQ(find_modem_image(std::string("KV\0 x.dl\nKV y.dl", 16), ati3_reply), "y.dl");
}

// Any text at all: no crash, no overrun (the sanitizers watch), every word within bounds.
TEST(ModemMap, ArbitraryTextNeverBreaksTheReader) {
    std::mt19937 random(20261207);
    const std::string alphabet("KV-56 \"\t\r\n\0x.dl", 15);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 1500, ' ');
        for (char& c : text) {
            c = random() % 4 == 0 ? static_cast<char>(random())
                                  : alphabet[random() % alphabet.size()];
        }
        for (const ModemMapEntry& entry : parse_modem_map(text)) {
            ASSERT_FALSE(entry.model_text.empty());
            ASSERT_FALSE(entry.image_path.empty());
            ASSERT_LE(entry.model_text.size(), MODEM_MAP_PIECE_MAX);
            ASSERT_LE(entry.image_path.size(), MODEM_MAP_PIECE_MAX);
        }
        find_modem_image(text, ati3_reply);
    }
}

}  // namespace
