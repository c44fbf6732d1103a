#include "ui/station/image_source.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/download_sequencer.h"
#include "engine/modem_map.h"
#include "engine/regular_file.h"
#include "tools/download_cli/image_check.h"
#include "tools/download_cli/printable_text.h"

namespace {

ImageSource check_one_image(const std::string& image_path) {
    ImageSource source;
    const ImageCheck image = check_image(image_path);
    if (!image.valid()) {
        source.problem = printable(image_path) + ": " + image.problem;
        return source;
    }
    char total[8];
    std::snprintf(total, sizeof total, "%04x", image.checksum_total);
    source.image_checksum = total;
    return source;
}

bool names_an_image(std::FILE* file) {
    ModemMapReader map(
        [file](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, file); });
    for (std::string line; map.next_line(line);) {
        if (parse_modem_map_line(line)) {
            return true;
        }
    }
    return false;
}

ImageSource check_modems_cfg() {
    ImageSource source;
    std::error_code ignored;
    source.modems_cfg =
        std::filesystem::absolute(default_modem_map_path(), ignored).lexically_normal().string();
    std::FILE* file = open_regular_file(default_modem_map_path().c_str(), "r");
    if (file == nullptr) {
        source.problem = "no modems.cfg to read (" + printable(source.modems_cfg) +
                         "): start the station in the folder that holds it, or give --image";
        return source;
    }
    const bool usable = names_an_image(file);
    std::fclose(file);
    if (!usable) {
        source.problem = printable(source.modems_cfg) +
                         " names no image: each line holds a model text, then its image file";
    }
    return source;
}

}  // namespace

ImageSource check_image_source(const std::string& image_path) {
    return image_path.empty() ? check_modems_cfg() : check_one_image(image_path);
}
