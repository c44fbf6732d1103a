#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The modem's program memory: the programmed records in the order they arrived.
class FlashStore {
  public:
    void erase();
    // Stores the record as record `number` (1-based): the next one, or the last one again
    // when the host resends it.
    void program(std::size_t number, const std::uint8_t* record);
    std::size_t record_count() const;
    // Sum modulo 65536 of the checksum of bytes 4..1027 of every stored record.
    std::uint16_t checksum_total() const;
    const std::vector<std::uint8_t>& contents() const { return contents_; }
    bool write_to(const std::string& path) const;

  private:
    std::vector<std::uint8_t> contents_;
};
