#pragma once

#include <cstdint>
#include <string>

// The verdict of the engine's own image validation on a file, without a modem.
struct ImageCheck {
    std::string problem;  // the validation's message ("Download file not found!"); empty: valid
    std::uint16_t checksum_total = 0;  // of the 224 records, when valid

    bool valid() const { return problem.empty(); }
};

// Validates the image at path as a download would, with its messages but without its
// pauses. Leaves the current download path set to path.
ImageCheck check_image(const std::string& path);
