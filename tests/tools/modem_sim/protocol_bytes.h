#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/block_checksum.h"

// Requests as the host builds them, for feeding the simulated modem.
inline std::vector<std::uint8_t> with_check_field(std::vector<std::uint8_t> bytes) {
    std::uint16_t check = block_checksum(bytes.data(), bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(check & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(check >> 8));
    return bytes;
}

inline std::vector<std::uint8_t> command_packet(std::uint16_t code, std::uint16_t context) {
    return with_check_field(
        {static_cast<std::uint8_t>(code & 0xFF), static_cast<std::uint8_t>(code >> 8),
         static_cast<std::uint8_t>(context & 0xFF), static_cast<std::uint8_t>(context >> 8)});
}

inline std::vector<std::uint8_t> erase_packet(const std::uint8_t* device_info) {
    std::vector<std::uint8_t> bytes{0x00, 0x02};
    bytes.insert(bytes.end(), device_info, device_info + 8);
    return with_check_field(bytes);
}

inline std::vector<std::uint8_t> text_bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

inline std::string text_of(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}
