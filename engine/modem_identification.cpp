#include "engine/modem_identification.h"

#include <cstdio>
#include <cstring>

#include "engine/at_command.h"
#include "engine/download_path.h"
#include "engine/modem_map.h"
#include "engine/regular_file.h"
#include "port/clock.h"

namespace {

void choose_image_for(const char* identification, const std::string& map_path) {
    std::FILE* file = open_regular_file(map_path.c_str(), "r");
    if (file == nullptr) {
        return;
    }
    ModemMapReader map(
        [file](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, file); });
    auto image_path = find_modem_image(map, identification);
    std::fclose(file);
    if (image_path) {
        set_current_download_path(image_path->c_str());
    }
}

}  // namespace

int identify_modem(PortObject* port, DownloadHost& host, const std::string& map_path,
                   std::string* identification_out) {
    if (identification_out != nullptr) {
        identification_out->clear();
    }
    if (send_at_command(port, "AT", nullptr) != 0) {
        return 0;
    }
    host.show_status_and_wait("Autobauding modem...", 0);
    port_clock().sleep_ms(AUTOBAUD_PAUSE_MS);

    char identification[AT_BUFFER_SIZE] = "OK";
    if (send_at_command(port, "ATI3", identification) == 0) {
        choose_image_for(identification, map_path);
        if (identification_out != nullptr) {
            *identification_out = identification;
        }
    }

    if (send_at_command(port, "AT*Y120", nullptr) != 0) {
        return 0;
    }
    host.show_status_and_wait("Enabling download mode...", 0);
    send_at_command(port, "AT*D", nullptr);  // the modem leaves text mode: no answer
    port_clock().sleep_ms(DOWNLOAD_MODE_PAUSE_MS);
    return 0;
}
