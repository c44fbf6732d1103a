#include "engine/modem_map.h"
#include <utility>

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads one piece of a line from left to right.
class LineCursor {
  public:
    explicit LineCursor(std::string_view line) : line_(line) {}

    void skip_spaces() {
        while (!at_end() && is_space(peek())) {
            ++position_;
        }
    }
    // The next white-space-delimited word.
    std::string word() {
        skip_spaces();
        std::string result;
        while (!at_end() && !is_space(peek())) {
            result.push_back(line_[position_++]);
        }
        return result;
    }
    // Text up to the next double quote or the end of the line; the quote is consumed.
    std::string until_quote() {
        std::string result;
        while (!at_end() && peek() != '"' && peek() != '\n' && peek() != '\r') {
            result.push_back(line_[position_++]);
        }
        skip_quotes();
        return result;
    }
    void skip_quotes() {
        while (!at_end() && peek() == '"') {
            ++position_;
        }
    }
    bool at_end() const { return position_ >= line_.size(); }
    char peek() const { return line_[position_]; }

  private:
    std::string_view line_;
    std::size_t position_ = 0;
};

// The readable part of a piece: like any C text, it ends at a NUL byte.
std::string_view up_to_nul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Reads from a text in memory.
ModemMapReader::Source text_source(std::string_view text) {
    return [text](char* buffer, std::size_t size) mutable {
        const std::size_t n = text.copy(buffer, size);
        text.remove_prefix(n);
        return n;
    };
}

}  // namespace

std::optional<ModemMapEntry> parse_modem_map_line(std::string_view line) {
    line = up_to_nul(line);
    LineCursor words(line);
    ModemMapEntry entry{words.word(), words.word()};
    if (entry.model_text.empty() || entry.image_path.empty()) {
        return std::nullopt;
    }
    if (entry.model_text.front() == '"') {
        // Everything after the line's first quote up to the next one, spaces included.
        LineCursor quoted(line.substr(line.find('"') + 1));
        entry.model_text = quoted.until_quote();
        entry.image_path = quoted.word();
        if (entry.model_text.empty() || entry.image_path.empty()) {
            return std::nullopt;
        }
    }
    return entry;
}

bool ModemMapReader::next_char(char& c) {
    if (position_ == length_) {
        length_ = source_(buffer_, sizeof buffer_);
        position_ = 0;
        if (length_ == 0) {
            return false;
        }
    }
    c = buffer_[position_++];
    return true;
}

bool ModemMapReader::next_line(std::string& piece) {
    piece.clear();
    char c = 0;
    bool any = false;
    while (next_char(c)) {
        any = true;
        if (c == '\n') {
            return true;
        }
        if (piece.size() < MODEM_MAP_PIECE_MAX) {
            piece.push_back(c);
        }
    }
    return any;
}

std::vector<ModemMapEntry> parse_modem_map(std::string_view text) {
    ModemMapReader map(text_source(text));
    std::vector<ModemMapEntry> entries;
    std::string line;
    while (map.next_line(line)) {
        if (auto entry = parse_modem_map_line(line)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::optional<ModemMapMatch> find_modem_map_match(ModemMapReader& map, std::string_view reply) {
    std::string line;
    int line_number = 0;
    while (map.next_line(line)) {
        ++line_number;
        auto entry = parse_modem_map_line(line);
        if (entry && reply.find(entry->model_text) != std::string_view::npos) {
            return ModemMapMatch{line_number, line, std::move(*entry)};
        }
    }
    return std::nullopt;
}

std::optional<std::string> find_modem_image(ModemMapReader& map, std::string_view reply) {
    if (std::optional<ModemMapMatch> match = find_modem_map_match(map, reply)) {
        return std::move(match->entry.image_path);
    }
    return std::nullopt;
}

std::optional<std::string> find_modem_image(std::string_view map_text, std::string_view reply) {
    ModemMapReader map(text_source(map_text));
    return find_modem_image(map, reply);
}
