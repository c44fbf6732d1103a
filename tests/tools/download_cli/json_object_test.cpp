#include "tools/download_cli/json_object.h"

#include <gtest/gtest.h>

// A modem may answer anything: the line must stay one valid ASCII line and read back as
// the same bytes.
TEST(JsonObject, EightBitTextSurvivesTheLineAsAscii) {
    const std::string answer = std::string("say \"hi\"\\\r\n\x01 caf") + '\xe9' + '\x7f';
    JsonObject object;
    object.add("text", answer).add("records", -12).add_number_text("duration", "1.250");

    const std::string line = object.text();
    for (const char c : line) {
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;
    }
    const std::optional<JsonObject> back = JsonObject::parse(line);
    ASSERT_TRUE(back.has_value()) << line;
    EXPECT_EQ(back->string_of("text"), answer);
    EXPECT_EQ(back->number_of("records", 0), -12);
    EXPECT_EQ(back->string_of("duration"), "");  // a number, not a string
}

TEST(JsonObject, AnythingButAFlatObjectIsNotAnEvent) {
    for (const char* line : {"", "Could not configure modem!", "{\"a\":", "{\"a\":\"b\"} x",
                             "{\"a\":{\"b\":1}}", "{\"a\":\"\\u0100\"}"}) {
        EXPECT_FALSE(JsonObject::parse(line).has_value()) << line;
    }
}
