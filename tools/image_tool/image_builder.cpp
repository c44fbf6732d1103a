#include "tools/image_tool/image_builder.h"

#include <fstream>
#include <iterator>
#include <random>

#include "engine/block_checksum.h"

ImageBytes make_record(std::uint16_t tag, const std::uint8_t* payload) {
    ImageBytes record(IMAGE_RECORD_BYTES);
    write_le16(record.data(), tag);
    std::copy(payload, payload + IMAGE_PAYLOAD_BYTES, record.begin() + 2);
    write_le16(record.data() + IMAGE_RECORD_CHECKED_BYTES,
               block_checksum(record.data(), IMAGE_RECORD_CHECKED_BYTES));
    return record;
}

ImageBytes build_image(const ImageRecipe& recipe) {
    // mt19937 gives the same sequence on every platform, so a seed names an image.
    std::mt19937 random(recipe.seed);
    ImageBytes image;
    image.reserve(recipe.records * IMAGE_RECORD_BYTES + recipe.tail_bytes);
    std::uint8_t payload[IMAGE_PAYLOAD_BYTES];
    for (std::size_t index = 0; index < recipe.records; ++index) {
        for (auto& byte : payload) {
            byte = static_cast<std::uint8_t>(random());
        }
        auto tag = static_cast<std::uint16_t>(recipe.random_tags ? random() : index);
        ImageBytes record = make_record(tag, payload);
        if (index + 1 == recipe.corrupt_record) {
            record[IMAGE_RECORD_CHECKED_BYTES] ^= 0xFF;
        }
        image.insert(image.end(), record.begin(), record.end());
    }
    for (std::size_t i = 0; i < recipe.tail_bytes; ++i) {
        image.push_back(static_cast<std::uint8_t>(random()));
    }
    return image;
}

std::uint16_t record_total_share(const std::uint8_t* record) {
    return block_checksum(record + 4, IMAGE_RECORD_BYTES - 4);
}

std::uint16_t image_checksum_total(const ImageBytes& image, std::size_t max_records) {
    std::size_t complete = image.size() / IMAGE_RECORD_BYTES;
    std::size_t counted = complete < max_records ? complete : max_records;
    std::uint16_t total = 0;
    for (std::size_t index = 0; index < counted; ++index) {
        total = static_cast<std::uint16_t>(
            total + record_total_share(image.data() + index * IMAGE_RECORD_BYTES));
    }
    return total;
}

std::size_t count_leading_good_records(const ImageBytes& image) {
    std::size_t good = 0;
    while (
        (good + 1) * IMAGE_RECORD_BYTES <= image.size() &&
        check_field_matches(image.data() + good * IMAGE_RECORD_BYTES, IMAGE_RECORD_CHECKED_BYTES)) {
        ++good;
    }
    return good;
}

bool write_image_file(const std::string& path, const ImageBytes& image) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(out.flush());
}

std::optional<ImageBytes> read_image_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    ImageBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}
