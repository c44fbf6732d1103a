#include "tools/json_text/json_text.h"

#include <charconv>
#include <cstdio>

using nlohmann::ordered_json;

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The library writes \b, \t, \n, \f and \r in their short form; ours are \u00XX like every
// other character outside printable ASCII.
void append_escape(std::string& line, char escaped) {
    const std::string_view short_forms = "btnfr";
    const std::string_view characters = "\b\t\n\f\r";
    const std::size_t which = short_forms.find(escaped);
    if (which == std::string_view::npos) {
        line += '\\';
        line += escaped;
        return;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(characters[which]));
    line += escape;
}

bool is_number_start(char c) {
    return c == '-' || (c >= '0' && c <= '9');
}

// The number token at the start of text, written again with three decimals when it has a
// fraction or an exponent (the library writes the shortest form: 1.5, 2.0, 1e-05).
std::size_t append_number(std::string& line, std::string_view text) {
    const std::size_t length = text.find_first_not_of("+-.0123456789eE");
    const std::string_view token = text.substr(0, length);
    double value = 0;
    if (token.find_first_of(".eE") == std::string_view::npos ||
        std::from_chars(token.data(), token.data() + token.size(), value).ec != std::errc()) {
        line += token;
        return token.size();
    }
    char fixed[64];
    const auto written =
        std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed, 3);
    line.append(fixed, written.ec == std::errc() ? written.ptr : fixed);
    return token.size();
}

}  // namespace

ordered_json json_text(std::string_view bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

ordered_json json_text_or_null(std::string_view text) {
    return text.empty() ? ordered_json(nullptr) : json_text(text);
}

std::string text_of_json(const ordered_json& value) {
    if (!value.is_string()) {
        return {};
    }
    const std::string& utf8 = value.get_ref<const std::string&>();
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            bytes += utf8[i];
        } else if (is_continuation(lead)) {
            continue;  // the rest of a character already read as '?'
        } else if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size() &&
                   is_continuation(static_cast<unsigned char>(utf8[i + 1]))) {
            const unsigned code =
                ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            bytes += code <= 0xFF ? static_cast<char>(code) : '?';
            ++i;
        } else {
            bytes += '?';
        }
    }
    return bytes;
}

std::string json_line(const ordered_json& value) {
    // Text that did not come through json_text may be no valid UTF-8: replaced, never thrown.
    const std::string dumped = value.dump(-1, ' ', true, ordered_json::error_handler_t::replace);
    std::string line;
    line.reserve(dumped.size());
    bool in_string = false;
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        const char c = dumped[i];
        if (in_string && c == '\\' && i + 1 < dumped.size()) {
            append_escape(line, dumped[++i]);
        } else if (!in_string && is_number_start(c)) {
            i += append_number(line, std::string_view(dumped).substr(i)) - 1;
        } else {
            in_string = in_string != (c == '"');
            line += c;
        }
    }
    return line;
}

std::optional<ordered_json> json_object_of_line(std::string_view line) {
    ordered_json value = ordered_json::parse(line.begin(), line.end(), nullptr, false);
    if (!value.is_object()) {
        return std::nullopt;
    }
    return value;
}

std::string text_member(const ordered_json& object, std::string_view key) {
    if (!object.is_object()) {
        return {};
    }
    const auto member = object.find(key);
    return member == object.end() ? std::string() : text_of_json(*member);
}

long long number_member(const ordered_json& object, std::string_view key, long long fallback) {
    if (!object.is_object()) {
        return fallback;
    }
    const auto member = object.find(key);
    if (member == object.end() || !member->is_number_integer()) {
        return fallback;
    }
    return member->get<long long>();
}
