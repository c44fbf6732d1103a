#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
  public:
    Sha256();
    void update(const std::uint8_t* data, std::size_t size);
    // The digest as 64 lowercase hex digits. Ends the hashing: update no more after it.
    std::string hex_digest();

  private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t total_bytes_ = 0;
};

// The SHA-256 of size bytes at data, as 64 lowercase hex digits.
std::string sha256_hex(const std::uint8_t* data, std::size_t size);
