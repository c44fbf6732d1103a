#include "tools/download_cli/image_check.h"

#include <cstdio>

#include "engine/download_host.h"
#include "engine/download_image.h"
#include "engine/download_path.h"

namespace {

// Keeps the last message the validation showed; nothing is shown and nobody waits.
class MessageKeeper final : public DownloadHost {
  public:
    void show_status(const char* text) override { last_message = text; }
    void show_status_and_wait(const char* text, std::uint32_t) override { last_message = text; }
    void report_outcome(const char* text) override { last_message = text; }
    void show_progress(bool) override {}
    void set_progress(int) override {}
    void enable_close() override {}
    void end_window(int) override {}
    int prompt_download_file() override { return DIALOG_RESULT_CANCEL; }
    void start_timer(unsigned, unsigned) override {}
    void stop_timer(unsigned) override {}

    std::string last_message;
};

}  // namespace

ImageCheck check_image(const std::string& path) {
    set_current_download_path(path.c_str());
    MessageKeeper messages;
    std::FILE* file = nullptr;
    ImageRecords records;
    if (validate_image(messages, file, records) != 0) {
        return ImageCheck{messages.last_message};
    }
    std::fclose(file);
    return ImageCheck{{}, records_checksum_total(records)};
}
