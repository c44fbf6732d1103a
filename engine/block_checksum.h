#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/X-25 of length bytes: reflected polynomial 0x8408, register 0xFFFF, final XOR
// 0xFFFF. Protects every packet, reply and image record; stored little-endian after the
// bytes it covers.
std::uint16_t block_checksum(const void* bytes, std::size_t length);

// The 16-bit little-endian value at bytes[0..1].
inline std::uint16_t read_le16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline void write_le16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

// True when the little-endian check field right after `length` bytes holds their checksum.
inline bool check_field_matches(const std::uint8_t* bytes, std::size_t length) {
    return block_checksum(bytes, length) == read_le16(bytes + length);
}
