#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A record of 1028 bytes with the given tag, a payload drawn from seed and a correct check
// field.
std::vector<std::uint8_t> make_image_record(std::uint16_t tag, std::uint32_t seed);
// The same record with its check field spoiled.
std::vector<std::uint8_t> make_bad_image_record(std::uint16_t tag, std::uint32_t seed);
// count good records, tags 0x1000 + i, seeds seed_base + i.
std::vector<std::vector<std::uint8_t>> make_image_records(int count, std::uint32_t seed_base = 1);

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    // Writes the records, then tail, into the named file; returns its path.
    std::string write_image(const std::string& name,
                            const std::vector<std::vector<std::uint8_t>>& records,
                            const std::vector<std::uint8_t>& tail = {}) const;
    std::string write_text(const std::string& name, const std::string& text) const;

  private:
    std::filesystem::path dir_;
};
