#pragma once

#include <cstddef>
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

// Lines are taken in pieces of at most this many characters (a longer line continues in
// the next piece, which is read as a line of its own).
inline constexpr std::size_t MODEM_MAP_PIECE_MAX = 519;
// Longer model texts and image paths are cut to this many characters.
inline constexpr std::size_t MODEM_MAP_WORD_MAX = 259;

// The entry one piece of a line holds, if any.
std::optional<ModemMapEntry> parse_modem_map_line(std::string_view line);

// Every entry of the file's text, in file order.
std::vector<ModemMapEntry> parse_modem_map(std::string_view text);

// The image path of the first entry whose model text occurs (case-sensitive) in reply.
std::optional<std::string> find_modem_image(std::string_view map_text, std::string_view reply);
