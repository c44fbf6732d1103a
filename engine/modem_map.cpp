#include "engine/modem_map.h"

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
    // The next white-space-delimited word, cut to MODEM_MAP_WORD_MAX characters.
    std::string word() {
        skip_spaces();
        std::string result;
        while (!at_end() && !is_space(peek())) {
            keep(result, line_[position_++]);
        }
        return result;
    }
    // Text up to the next double quote or the end of the line; the quote is consumed.
    std::string until_quote() {
        std::string result;
        while (!at_end() && peek() != '"' && peek() != '\n' && peek() != '\r') {
            keep(result, line_[position_++]);
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
    static void keep(std::string& text, char c) {
        if (text.size() < MODEM_MAP_WORD_MAX) {
            text.push_back(c);
        }
    }
    std::string_view line_;
    std::size_t position_ = 0;
};

// The readable part of a piece: like any C text, it ends at a NUL byte.
std::string_view up_to_nul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The next piece of text: up to and including a line feed, at most MODEM_MAP_PIECE_MAX
// characters.
std::string_view next_piece(std::string_view text, std::size_t& position) {
    std::size_t length = 0;
    while (position + length < text.size() && length < MODEM_MAP_PIECE_MAX) {
        if (text[position + length++] == '\n') {
            break;
        }
    }
    std::string_view piece = text.substr(position, length);
    position += length;
    return piece;
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

std::vector<ModemMapEntry> parse_modem_map(std::string_view text) {
    std::vector<ModemMapEntry> entries;
    std::size_t position = 0;
    while (position < text.size()) {
        if (auto entry = parse_modem_map_line(next_piece(text, position))) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::optional<std::string> find_modem_image(std::string_view map_text, std::string_view reply) {
    std::size_t position = 0;
    while (position < map_text.size()) {
        auto entry = parse_modem_map_line(next_piece(map_text, position));
        if (entry && reply.find(entry->model_text) != std::string_view::npos) {
            return entry->image_path;
        }
    }
    return std::nullopt;
}
