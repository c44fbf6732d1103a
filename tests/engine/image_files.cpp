#include "tests/engine/image_files.h"

#include <fstream>
#include <random>
#include <stdexcept>

#include "tools/image_tool/image_builder.h"

std::vector<std::uint8_t> make_image_record(std::uint16_t tag, std::uint32_t seed) {
    std::uint8_t payload[IMAGE_PAYLOAD_BYTES];
    std::mt19937 random(seed);
    for (std::uint8_t& byte : payload) {
        byte = static_cast<std::uint8_t>(random());
    }
    return make_record(tag, payload);
}

std::vector<std::uint8_t> make_bad_image_record(std::uint16_t tag, std::uint32_t seed) {
    std::vector<std::uint8_t> record = make_image_record(tag, seed);
    record[1026] ^= 0x01;
    return record;
}

std::vector<std::vector<std::uint8_t>> make_image_records(int count, std::uint32_t seed_base) {
    std::vector<std::vector<std::uint8_t>> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(make_image_record(static_cast<std::uint16_t>(0x1000 + i),
                                            seed_base + static_cast<std::uint32_t>(i)));
    }
    return records;
}

TempDir::TempDir() {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("korvan_engine_test_" + std::to_string(entropy()));
        if (std::filesystem::create_directory(candidate)) {
            dir_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::write_image(const std::string& name,
                                 const std::vector<std::vector<std::uint8_t>>& records,
                                 const std::vector<std::uint8_t>& tail) const {
    std::ofstream file(path(name), std::ios::binary);
    for (const auto& record : records) {
        file.write(reinterpret_cast<const char*>(record.data()),
                   static_cast<std::streamsize>(record.size()));
    }
    file.write(reinterpret_cast<const char*>(tail.data()),
               static_cast<std::streamsize>(tail.size()));
    return path(name).string();
}

std::string TempDir::write_text(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name).string();
}
