#pragma once

#include <cstddef>

// The process-wide current download path: at most 259 bytes and a terminating zero.
// Cleared when a run begins, written by modem identification and the download file prompt,
// read by the image validation.
inline constexpr std::size_t DOWNLOAD_PATH_SIZE = 260;
extern char current_download_path[DOWNLOAD_PATH_SIZE];

// Copies path. A path longer than 259 bytes is never cut to a shorter one that would name
// another file: it is remembered as too long (current_download_path_too_long()), and the
// buffer keeps only its readable beginning, ended at a whole UTF-8 character.
void set_current_download_path(const char* path);
void clear_current_download_path();
// Whether the path last set did not fit; no file is ever opened under it.
bool current_download_path_too_long();
