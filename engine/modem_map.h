#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The modem map file: one entry per line, the model text that must occur in the modem's
// ATI3 reply and the download image to use for it. A model text with spaces is written in
// double quotes. Lines that do not yield two words are ignored; there are no comments.
struct ModemMapEntry {
    std::string model_text;
    std::string image_path;
};

// Only the first this many characters of a line are read; the rest of a longer line is
// skipped, never taken for a line of its own.
inline constexpr std::size_t MODEM_MAP_PIECE_MAX = 519;
// Words are kept whole, never cut: a model text longer than an identification can hold
// never matches, and an image path too long for the current download path is refused by
// the validation instead of being cut to another file's name.

// Reads a modem map a line at a time, at most MODEM_MAP_PIECE_MAX characters each, through
// a fixed buffer: a file of any size costs no more memory than a short one.
class ModemMapReader {
  public:
    // Fills up to size bytes; 0 at the end of the input.
    using Source = std::function<std::size_t(char* buffer, std::size_t size)>;
    explicit ModemMapReader(Source source) : source_(std::move(source)) {}

    // The next line's first piece, without its line feed; false at the end of the input.
    bool next_line(std::string& piece);

  private:
    bool next_char(char& c);

    Source source_;
    char buffer_[4096];
    std::size_t position_ = 0;
    std::size_t length_ = 0;
};

// The entry one line holds, if any.
std::optional<ModemMapEntry> parse_modem_map_line(std::string_view line);

// Every entry of the file's text, in file order.
std::vector<ModemMapEntry> parse_modem_map(std::string_view text);

// The first entry whose model text occurs (case-sensitive) in reply, with its line: the
// line number (1 is the first) and the line as read. Reads no further than that entry.
struct ModemMapMatch {
    int line_number = 0;
    std::string line;
    ModemMapEntry entry;
};
std::optional<ModemMapMatch> find_modem_map_match(ModemMapReader& map, std::string_view reply);

// The image path of the first entry whose model text occurs (case-sensitive) in reply,
// reading no further than that entry.
std::optional<std::string> find_modem_image(ModemMapReader& map, std::string_view reply);
std::optional<std::string> find_modem_image(std::string_view map_text, std::string_view reply);
