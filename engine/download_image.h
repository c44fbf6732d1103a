#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/download_host.h"

// A download image is a flat file of image records: record tag, 1024 payload bytes and the
// block checksum of the 1026 bytes before it. A valid image starts with exactly 224 good
// records; whatever follows them is never sent.
inline constexpr int IMAGE_RECORD_SIZE = 1028;
inline constexpr int IMAGE_RECORD_COUNT = 224;
// After this many reads in a row that fail without reaching the end of the file, the file
// counts as unreadable and is rejected as not found.
inline constexpr int IMAGE_READ_ERROR_LIMIT = 8;

// Checks the file named by the current download path, showing "Validating download
// file..." and, on failure, why (each message with a 1000 ms pause). On 0, image_file is
// the file opened for binary reading ("rb") and positioned at its first record; on -1,
// image_file is nullptr. The file is opened afresh on every call; the caller owns it.
int validate_image(DownloadHost& host, std::FILE*& image_file);

// The number of good records at the start of file, read from its current position and
// counted up to IMAGE_RECORD_COUNT + 1; -1 when reads keep failing without reaching the end
// of the file.
int count_good_records(std::FILE* file);

// Reads the next record into record (IMAGE_RECORD_SIZE bytes); false when fewer came.
bool read_image_record(std::FILE* image_file, std::uint8_t* record);

// What a record adds to the checksum total: the block checksum of its last 1024 bytes
// (bytes 4..1027, its check field included).
std::uint16_t record_checksum(const std::uint8_t* record);
