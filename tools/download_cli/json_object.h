#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// text as a JSON string: quotes and backslashes escaped, every control byte and every byte
// that is not plain ASCII as \u00XX, so the result is valid UTF-8 JSON whatever text holds.
void append_json_string(std::string& out, std::string_view text);
std::string json_string(std::string_view text);

// A flat JSON object of string and number members, the one shape the event stream and the
// report use. Strings hold the engine's 8-bit text: bytes that are not plain ASCII are
// written as \u00XX escapes, so every line is valid UTF-8 whatever a modem answered.
class JsonObject {
  public:
    JsonObject& add(std::string key, std::string_view text);
    JsonObject& add(std::string key, long long number);
    // A number written as given (a duration with decimals, for example).
    JsonObject& add_number_text(std::string key, std::string number);

    // The object on one line, without a line ending.
    std::string text() const;
    // Reads one object; nothing when line is not a flat object of strings and numbers.
    static std::optional<JsonObject> parse(std::string_view line);

    // The member's string (empty when absent or not a string) or number (fallback when
    // absent or not a number).
    std::string string_of(std::string_view key) const;
    long long number_of(std::string_view key, long long fallback) const;
    bool has(std::string_view key) const { return find(key) != nullptr; }

  private:
    struct Member {
        std::string key;
        std::string value;  // the text of a string, the literal of a number
        bool is_string;
    };
    const Member* find(std::string_view key) const;

    std::vector<Member> members_;
};
