#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Download images as the modem receives them: records of a 16-bit tag, 1024 payload bytes
// and a check field over the 1026 bytes before it.
inline constexpr std::size_t IMAGE_RECORD_BYTES = 1028;
inline constexpr std::size_t IMAGE_RECORD_CHECKED_BYTES = 1026;
inline constexpr std::size_t IMAGE_PAYLOAD_BYTES = 1024;
inline constexpr std::size_t IMAGE_GOOD_RECORDS = 224;

using ImageBytes = std::vector<std::uint8_t>;

struct ImageRecipe {
    std::size_t records = IMAGE_GOOD_RECORDS;
    // Seeds the payload (and the tags when random_tags is set); equal seeds, equal images.
    std::uint32_t seed = 1;
    // Tags are the 0-based record index unless set.
    bool random_tags = false;
    // 1-based record written with a check field that does not match; 0 for none.
    std::size_t corrupt_record = 0;
    // Bytes of a short, incomplete record appended after the last record.
    std::size_t tail_bytes = 0;
};

// One record with the given tag and 1024 payload bytes, its check field filled in.
ImageBytes make_record(std::uint16_t tag, const std::uint8_t* payload);

ImageBytes build_image(const ImageRecipe& recipe);

// Checksum of record bytes 4..1027, the share of one record in the checksum total.
std::uint16_t record_total_share(const std::uint8_t* record);

// Sum modulo 65536 of the shares of the first `max_records` complete records.
std::uint16_t image_checksum_total(const ImageBytes& image,
                                   std::size_t max_records = IMAGE_GOOD_RECORDS);

// Complete records at the start of the image whose check field matches.
std::size_t count_leading_good_records(const ImageBytes& image);

bool write_image_file(const std::string& path, const ImageBytes& image);
std::optional<ImageBytes> read_image_file(const std::string& path);
