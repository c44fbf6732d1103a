#include "engine/download_image.h"

#include "engine/block_checksum.h"
#include "engine/download_path.h"

namespace {

constexpr std::uint32_t MESSAGE_PAUSE_MS = 1000;
constexpr int RECORD_CHECKED_BYTES = IMAGE_RECORD_SIZE - 2;
constexpr int RECORD_TOTAL_OFFSET = 4;

int fail(DownloadHost& host, const char* message) {
    host.show_status_and_wait(message, MESSAGE_PAUSE_MS);
    return -1;
}

}  // namespace

int count_good_records(std::FILE* file) {
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

int validate_image(DownloadHost& host, std::FILE*& image_file) {
    image_file = nullptr;
    host.show_status_and_wait("Validating download file...", MESSAGE_PAUSE_MS);
    if (current_download_path[0] == '\0') {
        return fail(host, "Download file not specified!");
    }
    std::FILE* file = std::fopen(current_download_path, "rb");
    if (file == nullptr) {
        return fail(host, "Download file not found!");
    }
    const int good_records = count_good_records(file);
    if (good_records != IMAGE_RECORD_COUNT) {
        std::fclose(file);
        // Some systems open what they cannot read (a directory, say): not a readable file.
        return fail(
            host, good_records < 0 ? "Download file not found!" : "Invalid download file format!");
    }
    std::rewind(file);
    image_file = file;
    return 0;
}

bool read_image_record(std::FILE* image_file, std::uint8_t* record) {
    return std::fread(record, 1, IMAGE_RECORD_SIZE, image_file) == IMAGE_RECORD_SIZE;
}

std::uint16_t record_checksum(const std::uint8_t* record) {
    return block_checksum(record + RECORD_TOTAL_OFFSET, IMAGE_RECORD_SIZE - RECORD_TOTAL_OFFSET);
}
