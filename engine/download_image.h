#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/download_host.h"

// A download image is a flat file of image records: record tag, 1024 payload bytes and the
// block checksum of the 1026 bytes before it. A valid image starts with exactly 224 good
// records; whatever follows them is never sent.
inline constexpr int IMAGE_RECORD_SIZE = 1028;
inline constexpr int IMAGE_RECORD_COUNT = 224;
// After this many reads in a row that fail without reaching the end of the file, the file
// counts as unreadable and is rejected as not found.
inline constexpr int IMAGE_READ_ERROR_LIMIT = 8;

// The records of an image exactly as the validation checked them, one after the other. They
// are what gets sent: the file may change on disk (a copy still being written, a network
// drive) between the validation and the last record.
using ImageRecords = std::vector<std::uint8_t>;

// Checks the file named by the current download path, showing "Validating download
// file..." and, on failure, why (each message with a 1000 ms pause). Only a regular file is
// opened: a FIFO, device, socket or directory, or a path too long to hold, is "not found"
// without blocking. On 0, image_file is the file opened for binary reading ("rb") and
// positioned at its first record, and records holds the 224 validated records; on -1,
// image_file is nullptr and records is empty. The file is opened afresh on every call; the
// caller owns it.
int validate_image(DownloadHost& host, std::FILE*& image_file, ImageRecords& records);

// The number of good records at the start of file, read from its current position and
// counted up to IMAGE_RECORD_COUNT + 1; -1 when reads keep failing without reaching the end
// of the file. When kept is given, the first IMAGE_RECORD_COUNT good records land in it.
int count_good_records(std::FILE* file, ImageRecords* kept = nullptr);

// Copies validated record index (0-based) into record (IMAGE_RECORD_SIZE bytes) and checks
// its check field once more; false when there is no such record or the check fails.
bool copy_validated_record(const ImageRecords& records, int index, std::uint8_t* record);

// What a record adds to the checksum total: the block checksum of its last 1024 bytes
// (bytes 4..1027, its check field included).
std::uint16_t record_checksum(const std::uint8_t* record);

// The checksum total of every record in records: what the completion message shows once all
// of them went through.
std::uint16_t records_checksum_total(const ImageRecords& records);

// The SHA-256 of the records, 64 lowercase hex digits: which image bytes a modem got, where
// the 16-bit checksum total only tells two images apart most of the time. It is the image
// file's own SHA-256 when the file holds nothing after its records.
std::string records_sha256(const ImageRecords& records);
