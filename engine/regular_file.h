#pragma once

#include <cstdio>

// Opens path with fopen's mode only when it names a regular file (a link to one counts).
// Opening a FIFO waits for a writer, and reading a device or socket may never end: neither
// may block the user interface, so anything but a regular file is as good as missing.
std::FILE* open_regular_file(const char* path, const char* mode);
