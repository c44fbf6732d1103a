#include "tools/output_file_check/output_file_check.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/modem_map.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* MODEM_MAP = "modems.cfg";

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, error) && !error;
}

std::vector<std::string> image_paths(const std::string& image_path) {
    std::vector<std::string> images;
    if (!image_path.empty()) {
        images.push_back(image_path);
    }
    std::ifstream map(MODEM_MAP, std::ios::binary);
    std::ostringstream text;
    text << map.rdbuf();
    for (const ModemMapEntry& entry : parse_modem_map(text.str())) {
        images.push_back(entry.image_path);
    }
    return images;
}

}  // namespace

std::string output_file_refusal(const std::string& path, const std::string& image_path) {
    if (path.empty()) {
        return "is empty";
    }
    for (const std::string& image : image_paths(image_path)) {
        if (same_file(path, image)) {
            return "is the image (" + image + ")";
        }
    }
    if (same_file(path, MODEM_MAP)) {
        return std::string("is the modem map (") + MODEM_MAP + ")";
    }
    return unsafe_output_file(path);
}
