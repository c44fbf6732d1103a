#include "tools/download_cli/printable_text.h"

std::string printable(std::string_view text) {
    static constexpr char hex_digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += hex_digits[byte >> 4];
            shown += hex_digits[byte & 0xF];
        }
    }
    return shown;
}
