#include "engine/sha256.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::array<std::uint32_t, 64> ROUND_CONSTANTS = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> INITIAL_STATE = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::size_t BLOCK_SIZE = 64;
constexpr std::size_t LENGTH_FIELD_SIZE = 8;

std::uint32_t rotate_right(std::uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

std::uint32_t big_endian_word(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

Sha256::Sha256() : state_(INITIAL_STATE) {}

void Sha256::update(const std::uint8_t* data, std::size_t size) {
    total_bytes_ += size;
    while (size > 0) {
        const std::size_t taken = std::min(size, BLOCK_SIZE - pending_size_);
        std::copy(data, data + taken,
                  pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
        pending_size_ += taken;
        data += taken;
        size -= taken;
        if (pending_size_ == BLOCK_SIZE) {
            compress(pending_.data());
            pending_size_ = 0;
        }
    }
}

std::string Sha256::hex_digest() {
    const std::uint64_t total_bits = total_bytes_ * 8;
    const std::uint8_t end_mark = 0x80;
    update(&end_mark, 1);
    const std::uint8_t zero = 0;
    while (pending_size_ != BLOCK_SIZE - LENGTH_FIELD_SIZE) {
        update(&zero, 1);
    }
    std::array<std::uint8_t, LENGTH_FIELD_SIZE> length{};
    for (std::size_t i = 0; i < LENGTH_FIELD_SIZE; ++i) {
        length[i] = static_cast<std::uint8_t>(total_bits >> (8 * (LENGTH_FIELD_SIZE - 1 - i)));
    }
    update(length.data(), length.size());

    std::string hex;
    for (const std::uint32_t word : state_) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
        hex += digits;
    }
    return hex;
}

void Sha256::compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> schedule{};
    for (std::size_t i = 0; i < 16; ++i) {
        schedule[i] = big_endian_word(block + 4 * i);
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotate_right(schedule[i - 15], 7) ^
                                 rotate_right(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
        const std::uint32_t s1 = rotate_right(schedule[i - 2], 17) ^
                                 rotate_right(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
        schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state_;  // a..h
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t sum1 =
            rotate_right(v[4], 6) ^ rotate_right(v[4], 11) ^ rotate_right(v[4], 25);
        const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + sum1 + choose + ROUND_CONSTANTS[i] + schedule[i];
        const std::uint32_t sum0 =
            rotate_right(v[0], 2) ^ rotate_right(v[0], 13) ^ rotate_right(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = sum0 + majority;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < state_.size(); ++i) {
        state_[i] += v[i];
    }
}

std::string sha256_hex(const std::uint8_t* data, std::size_t size) {
    Sha256 hash;
    hash.update(data, size);
    return hash.hex_digest();
}
