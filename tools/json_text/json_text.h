#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The engine's text is 8-bit: what a modem answered, file names, messages. JSON strings are
// Unicode, so each byte travels as the character of the same number (U+0000..U+00FF, as in
// Latin-1): whatever bytes a modem sent survive a line and come back as they were.
nlohmann::ordered_json json_text(std::string_view bytes);
// The bytes a JSON string carries (the reverse of json_text); empty when value is not a
// string. A character beyond U+00FF, which json_text never makes, reads as '?'.
std::string text_of_json(const nlohmann::ordered_json& value);
// json_text of text, or null when text is empty (a field the system left blank).
nlohmann::ordered_json json_text_or_null(std::string_view text);

// A value on one line, without the line ending, in the form every line of ours has always
// had: compact, plain ASCII with every other character as \u00XX (never the short \n form,
// so a byte reads the same wherever it stands), and each number with a fraction (seconds)
// to the millisecond.
std::string json_line(const nlohmann::ordered_json& value);
// The object a line holds; nothing when the line is not one JSON object.
std::optional<nlohmann::ordered_json> json_object_of_line(std::string_view line);

// A member of an object: its text (empty when absent or not a string), its number (fallback
// when absent or not a number).
std::string text_member(const nlohmann::ordered_json& object, std::string_view key);
long long number_member(const nlohmann::ordered_json& object, std::string_view key,
                        long long fallback);
