#include "engine/modem_identification.h"

#include <cstdio>
#include <cstring>

#include "engine/at_command.h"
#include "engine/download_path.h"
#include "engine/modem_map.h"

namespace {

// The whole text of a file; false when it cannot be opened.
bool read_text_file(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return true;
}

void choose_image_for(const char* identification, const std::string& map_path) {
    std::string map_text;
    if (!read_text_file(map_path, map_text)) {
        return;
    }
    if (auto image_path = find_modem_image(map_text, identification)) {
        set_current_download_path(image_path->c_str());
    }
}

}  // namespace

int identify_modem(PortObject* port, Clock& clock, DownloadHost& host, const std::string& map_path,
                   std::string* identification_out) {
    if (identification_out != nullptr) {
        identification_out->clear();
    }
    if (send_at_command(port, clock, "AT", nullptr) != 0) {
        return 0;
    }
    host.show_status_and_wait("Autobauding modem...", 0);
    clock.sleep_ms(AUTOBAUD_PAUSE_MS);

    char identification[AT_BUFFER_SIZE] = "OK";
    if (send_at_command(port, clock, "ATI3", identification) == 0) {
        choose_image_for(identification, map_path);
        if (identification_out != nullptr) {
            *identification_out = identification;
        }
    }

    if (send_at_command(port, clock, "AT*Y120", nullptr) != 0) {
        return 0;
    }
    host.show_status_and_wait("Enabling download mode...", 0);
    send_at_command(port, clock, "AT*D", nullptr);  // the modem leaves text mode: no answer
    clock.sleep_ms(DOWNLOAD_MODE_PAUSE_MS);
    return 0;
}
