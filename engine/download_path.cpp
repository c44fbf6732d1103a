#include "engine/download_path.h"

#include <cstring>

char current_download_path[DOWNLOAD_PATH_SIZE];

void set_current_download_path(const char* path) {
    std::size_t length = std::strlen(path);
    if (length > DOWNLOAD_PATH_SIZE - 1) {
        length = DOWNLOAD_PATH_SIZE - 1;
    }
    std::memcpy(current_download_path, path, length);
    current_download_path[length] = '\0';
}

void clear_current_download_path() {
    current_download_path[0] = '\0';
}
