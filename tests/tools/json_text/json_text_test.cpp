#include "tools/json_text/json_text.h"

#include <gtest/gtest.h>

#include <cstdio>

using nlohmann::ordered_json;

namespace {

// How every event and report line has always written one byte of text: quote and
// backslash escaped, control bytes, DEL and every byte above ASCII as \u00XX in lower case.
std::string established_form(unsigned char byte) {
    if (byte == '"' || byte == '\\') {
        return std::string("\\") + static_cast<char>(byte);
    }
    if (byte < 0x20 || byte >= 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        return escape;
    }
    return std::string(1, static_cast<char>(byte));
}

}  // namespace

// A modem may answer any byte: each is written as it always was and reads back as itself.
TEST(JsonText, EveryByteIsWrittenAsBeforeAndReadsBack) {
    std::string all_bytes;
    std::string all_written;
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<unsigned char>(value);
        const std::string text(1, static_cast<char>(byte));
        const std::string line = json_line({{"text", json_text(text)}});
        EXPECT_EQ(line, "{\"text\":\"" + established_form(byte) + "\"}") << "byte " << value;
        const std::optional<ordered_json> back = json_object_of_line(line);
        ASSERT_TRUE(back.has_value()) << line;
        EXPECT_EQ(text_member(*back, "text"), text) << "byte " << value;
        all_bytes += text;
        all_written += established_form(byte);
    }
    EXPECT_EQ(json_line(json_text(all_bytes)), "\"" + all_written + "\"");
}

// Text in our lines is 8-bit: a character no byte maps to reads as '?', not as its UTF-8.
TEST(JsonText, CharactersBeyondEightBitsReadAsQuestionMarks) {
    const std::optional<ordered_json> line =
        json_object_of_line(R"({"text":"a\u0100b\u20acc\ud83d\ude00d\u00e9"})");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(text_member(*line, "text"), "a?b?c?d\xe9");
}

// Members in the order they were added; whole numbers as they are, fractions (seconds) to the
// millisecond, and nothing inside a string taken for a number.
TEST(JsonText, OrderAndNumbersStayAsTheyWere) {
    const ordered_json object = {{"records", -12},    {"duration", 1.5}, {"whole", 2.0},
                                 {"tiny", 0.0004},    {"long", 12.3456}, {"large", 123456789.0},
                                 {"text", "\"1.5\\"}, {"valid", true},   {"none", nullptr}};
    EXPECT_EQ(json_line(object),
              R"({"records":-12,"duration":1.500,"whole":2.000,"tiny":0.000,"long":12.346,)"
              R"("large":123456789.000,"text":"\"1.5\\","valid":true,"none":null})");
}

// A child's line that is not one JSON object is not an event, and reading it never throws.
TEST(JsonText, AnythingButAnObjectIsNotAnEvent) {
    for (const char* line : {"", "Could not configure modem!", "{\"a\":", "{\"a\":\"b\"} x", "[1]",
                             "\"text\"", "{\"a\":\"\xe9\"}", "{\"a\":\"\\u12\"}"}) {
        EXPECT_FALSE(json_object_of_line(line).has_value()) << line;
    }
    const std::optional<ordered_json> event = json_object_of_line(R"({"records":"12","n":{}})");
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(number_member(*event, "records", -1), -1);
    EXPECT_EQ(text_member(*event, "n"), "");
    EXPECT_EQ(text_member(*event, "missing"), "");
}
