#include "engine/block_checksum.h"

std::uint16_t block_checksum(const void* bytes, std::size_t length) {
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            bool differs = ((reg ^ byte) & 1) != 0;
            reg = static_cast<std::uint16_t>(reg >> 1);
            if (differs) {
                reg ^= 0x8408;
            }
            byte >>= 1;
        }
    }
    return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}
