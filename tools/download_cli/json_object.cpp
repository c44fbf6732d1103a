#include "tools/download_cli/json_object.h"

#include <cstdio>
#include <cstdlib>

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string json_string(std::string_view text) {
    std::string quoted;
    append_json_string(quoted, text);
    return quoted;
}

namespace {

// A cursor over one line of JSON.
class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skip_space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\n')) {
            ++pos_;
        }
    }
    bool take(char c) {
        skip_space();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool peek(char c) {
        skip_space();
        return pos_ < text_.size() && text_[pos_] == c;
    }
    bool at_end() {
        skip_space();
        return pos_ == text_.size();
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string value;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return value;
            }
            if (c != '\\') {
                value += c;
                continue;
            }
            if (pos_ >= text_.size()) {
                return std::nullopt;
            }
            const char escaped = text_[pos_++];
            switch (escaped) {
                case '"':
                case '\\':
                case '/':
                    value += escaped;
                    break;
                case 'n':
                    value += '\n';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'b':
                    value += '\b';
                    break;
                case 'f':
                    value += '\f';
                    break;
                case 'u':
                    if (!unicode_escape(value)) {
                        return std::nullopt;
                    }
                    break;
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> number() {
        skip_space();
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               std::string_view("+-.0123456789eE").find(text_[pos_]) != std::string_view::npos) {
            ++pos_;
        }
        if (pos_ == start) {
            return std::nullopt;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

  private:
    // Only what the writer produces comes back as the byte it was: \u0000..\u00ff.
    bool unicode_escape(std::string& value) {
        if (pos_ + 4 > text_.size()) {
            return false;
        }
        const std::string digits(text_.substr(pos_, 4));
        char* end = nullptr;
        const long code = std::strtol(digits.c_str(), &end, 16);
        if (end != digits.c_str() + 4 || code > 0xFF) {
            return false;
        }
        pos_ += 4;
        value += static_cast<char>(code);
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

JsonObject& JsonObject::add(std::string key, std::string_view text) {
    members_.push_back({std::move(key), std::string(text), true});
    return *this;
}

JsonObject& JsonObject::add(std::string key, long long number) {
    members_.push_back({std::move(key), std::to_string(number), false});
    return *this;
}

JsonObject& JsonObject::add_number_text(std::string key, std::string number) {
    members_.push_back({std::move(key), std::move(number), false});
    return *this;
}

std::string JsonObject::text() const {
    std::string out = "{";
    for (const Member& member : members_) {
        if (out.size() > 1) {
            out += ',';
        }
        append_json_string(out, member.key);
        out += ':';
        if (member.is_string) {
            append_json_string(out, member.value);
        } else {
            out += member.value;
        }
    }
    out += '}';
    return out;
}

std::optional<JsonObject> JsonObject::parse(std::string_view line) {
    Reader reader(line);
    JsonObject object;
    if (!reader.take('{')) {
        return std::nullopt;
    }
    if (!reader.take('}')) {
        do {
            std::optional<std::string> key = reader.string();
            if (!key || !reader.take(':')) {
                return std::nullopt;
            }
            const bool is_string = reader.peek('"');
            std::optional<std::string> value = is_string ? reader.string() : reader.number();
            if (!value) {
                return std::nullopt;
            }
            object.members_.push_back({std::move(*key), std::move(*value), is_string});
        } while (reader.take(','));
        if (!reader.take('}')) {
            return std::nullopt;
        }
    }
    if (!reader.at_end()) {
        return std::nullopt;
    }
    return object;
}

const JsonObject::Member* JsonObject::find(std::string_view key) const {
    for (const Member& member : members_) {
        if (member.key == key) {
            return &member;
        }
    }
    return nullptr;
}

std::string JsonObject::string_of(std::string_view key) const {
    const Member* member = find(key);
    return member != nullptr && member->is_string ? member->value : std::string();
}

long long JsonObject::number_of(std::string_view key, long long fallback) const {
    const Member* member = find(key);
    if (member == nullptr || member->is_string) {
        return fallback;
    }
    char* end = nullptr;
    const long long value = std::strtoll(member->value.c_str(), &end, 10);
    return end == member->value.c_str() ? fallback : value;
}
