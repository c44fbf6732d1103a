#include "engine/download_path.h"

#include <cstring>

char current_download_path[DOWNLOAD_PATH_SIZE];

namespace {

bool path_too_long = false;

bool is_utf8_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

void set_current_download_path(const char* path) {
    std::size_t length = std::strlen(path);
    path_too_long = length > DOWNLOAD_PATH_SIZE - 1;
    if (path_too_long) {
        length = DOWNLOAD_PATH_SIZE - 1;
        while (length > 0 && is_utf8_continuation(path[length])) {
            --length;
        }
    }
    std::memcpy(current_download_path, path, length);
    current_download_path[length] = '\0';
}

void clear_current_download_path() {
    current_download_path[0] = '\0';
    path_too_long = false;
}

bool current_download_path_too_long() {
    return path_too_long;
}
