#include <filesystem>

#include "tools/output_file_check/output_file_check.h"

std::string unsafe_output_file(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
        return {};
    }
    return std::filesystem::is_directory(status) ? "is a directory, not a regular file"
                                                 : "is a device, not a regular file";
}
