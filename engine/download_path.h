#pragma once

#include <cstddef>

// The process-wide current download path: at most 259 characters and a terminating zero.
// Cleared when a run begins, written by modem identification and the download file prompt,
// read by the image validation.
inline constexpr std::size_t DOWNLOAD_PATH_SIZE = 260;
extern char current_download_path[DOWNLOAD_PATH_SIZE];

// Copies path, cut to its first 259 characters.
void set_current_download_path(const char* path);
void clear_current_download_path();
