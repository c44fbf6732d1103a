#pragma once

#include <string>

// Where a station's images come from, checked once before any port is touched: one bad
// image, or no modems.cfg where the downloads will look for it, would fail every modem.
struct ImageSource {
    std::string problem;         // empty when the station may start; else why not, escaped
    std::string image_checksum;  // with --image: its checksum total, four hex digits
    std::string modems_cfg;      // without --image: the modems.cfg the downloads read, absolute
};

// image_path: --image, or empty for ./modems.cfg (in the folder the station runs in).
ImageSource check_image_source(const std::string& image_path);
