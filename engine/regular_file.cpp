#include "engine/regular_file.h"

#include <filesystem>
#include <system_error>

std::FILE* open_regular_file(const char* path, const char* mode) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return nullptr;
    }
    return std::fopen(path, mode);
}
