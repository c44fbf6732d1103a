#include "engine/download_image.h"

#include <cstring>

#include "engine/block_checksum.h"
#include "engine/download_path.h"
#include "engine/regular_file.h"
#include "engine/sha256.h"

namespace {

constexpr std::uint32_t MESSAGE_PAUSE_MS = 1000;
constexpr int RECORD_CHECKED_BYTES = IMAGE_RECORD_SIZE - 2;
constexpr int RECORD_TOTAL_OFFSET = 4;

int fail(DownloadHost& host, const char* message) {
    host.show_status_and_wait(message, MESSAGE_PAUSE_MS);
    return -1;
}

}  // namespace

int count_good_records(std::FILE* file, ImageRecords* kept) {
    std::uint8_t record[IMAGE_RECORD_SIZE];
    int good = 0;
    int errors_in_a_row = 0;
    for (;;) {
        std::size_t got = std::fread(record, 1, sizeof record, file);
        if (got == sizeof record) {
            if (!check_field_matches(record, RECORD_CHECKED_BYTES)) {
                return good;
            }
            ++good;
            errors_in_a_row = 0;
            if (good > IMAGE_RECORD_COUNT) {
                return good;  // too many already; no need to read a huge file to its end
            }
            if (kept != nullptr) {
                kept->insert(kept->end(), record, record + sizeof record);
            }
        } else if (std::feof(file)) {
            return good;
        } else {
            // A storage read error: the bytes read are lost, the scan goes on after them.
            if (++errors_in_a_row >= IMAGE_READ_ERROR_LIMIT) {
                return -1;
            }
            std::clearerr(file);
        }
    }
}

int validate_image(DownloadHost& host, std::FILE*& image_file, ImageRecords& records) {
    image_file = nullptr;
    records.clear();
    host.show_status_and_wait("Validating download file...", MESSAGE_PAUSE_MS);
    if (current_download_path[0] == '\0') {
        return fail(host, "Download file not specified!");
    }
    std::FILE* file =
        current_download_path_too_long() ? nullptr : open_regular_file(current_download_path, "rb");
    if (file == nullptr) {
        return fail(host, "Download file not found!");
    }
    records.reserve(static_cast<std::size_t>(IMAGE_RECORD_COUNT) * IMAGE_RECORD_SIZE);
    const int good_records = count_good_records(file, &records);
    if (good_records != IMAGE_RECORD_COUNT) {
        std::fclose(file);
        records.clear();
        // Some systems open what they cannot read: not a readable file.
        return fail(
            host, good_records < 0 ? "Download file not found!" : "Invalid download file format!");
    }
    std::rewind(file);
    image_file = file;
    return 0;
}

bool copy_validated_record(const ImageRecords& records, int index, std::uint8_t* record) {
    const std::size_t offset = static_cast<std::size_t>(index) * IMAGE_RECORD_SIZE;
    if (index < 0 || offset + IMAGE_RECORD_SIZE > records.size()) {
        return false;
    }
    std::memcpy(record, records.data() + offset, IMAGE_RECORD_SIZE);
    return check_field_matches(record, RECORD_CHECKED_BYTES);
}

std::uint16_t record_checksum(const std::uint8_t* record) {
    return block_checksum(record + RECORD_TOTAL_OFFSET, IMAGE_RECORD_SIZE - RECORD_TOTAL_OFFSET);
}

std::uint16_t records_checksum_total(const ImageRecords& records) {
    std::uint16_t total = 0;
    for (std::size_t offset = 0; offset + IMAGE_RECORD_SIZE <= records.size();
         offset += IMAGE_RECORD_SIZE) {
        total = static_cast<std::uint16_t>(total + record_checksum(records.data() + offset));
    }
    return total;
}

std::string records_sha256(const ImageRecords& records) {
    return sha256_hex(records.data(), records.size());
}
