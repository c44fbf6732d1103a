#include "engine/download_sequencer.h"

#include <cstring>
#include <filesystem>
#include <utility>

#include "engine/at_command.h"
#include "engine/block_checksum.h"
#include "engine/download_path.h"
#include "engine/download_protocol.h"
#include "engine/modem_identification.h"

namespace {

constexpr std::uint32_t STEP_PAUSE_MS = 1000;

enum State {
    STATE_IDLE = 0,
    STATE_CONFIGURE = 1,
    STATE_VALIDATE = 2,
    STATE_ERASE = 3,
    STATE_PROGRAM = 4,
    STATE_RESTORE = 5,
    STATE_COMPLETE = 6,
};

}  // namespace

std::string default_modem_map_path() {
    return std::string(".") + static_cast<char>(std::filesystem::path::preferred_separator) +
           "modems.cfg";
}

const std::vector<PortTableEntry>& default_port_table() {
    static const std::vector<PortTableEntry> table = {
        {2, "COM3"}, {3, "COM4"}, {1, "COM2"}, {0, "COM1"}, {4, "COM5"},
        {5, "COM6"}, {6, "COM7"}, {7, "COM8"}, {8, "COM9"},
    };
    return table;
}

DownloadSequencer::DownloadSequencer(DownloadHost& host, Clock& clock, unsigned timer_id,
                                     PortFactory factory)
    : host_(host),
      clock_binding_(clock),
      factory_(std::move(factory)),
      port_table_(default_port_table()),
      modem_map_path_(default_modem_map_path()),
      timer_id_(timer_id) {}

// The window may go away in the middle of a run (the console host on a signal, say):
// nothing it held may outlive it.
DownloadSequencer::~DownloadSequencer() {
    close_image_file();
    close_port();
}

void DownloadSequencer::set_port_table(std::vector<PortTableEntry> table) {
    port_table_ = std::move(table);
}

void DownloadSequencer::set_modem_map_path(std::string path) {
    modem_map_path_ = std::move(path);
}

void DownloadSequencer::begin_run() {
    clear_current_download_path();
    block_count_ = 0;
    checksum_total_ = 0;
    context_word_ = 0;
    state_ = STATE_CONFIGURE;
    host_.start_timer(timer_id_, SEQUENCER_TIMER_PERIOD_MS);
}

void DownloadSequencer::OnTimer(unsigned) {
    // The waits inside a step let the host handle its events; with the timer stopped no
    // second step can start inside this one.
    host_.stop_timer(timer_id_);
    if (perform_step() == 0) {
        host_.start_timer(timer_id_, SEQUENCER_TIMER_PERIOD_MS);
    } else {
        end_run();
    }
}

int DownloadSequencer::perform_step() {
    switch (state_) {
        case STATE_CONFIGURE:
            return search_and_configure();
        case STATE_VALIDATE:
            return validate_with_prompt();
        case STATE_ERASE:
            return erase_step();
        case STATE_PROGRAM:
            return program_step();
        case STATE_RESTORE:
            return restore_step();
        case STATE_COMPLETE:
            return completion_step();
        default:
            return -1;
    }
}

void DownloadSequencer::end_run() {
    host_.enable_close();
    close_image_file();
    close_port();
    state_ = STATE_IDLE;
}

void DownloadSequencer::close_port() {
    if (port_ != nullptr) {
        PortObject* port = std::exchange(port_, nullptr);
        port->close(port);
    }
}

void DownloadSequencer::close_image_file() {
    if (image_file_ != nullptr) {
        std::fclose(std::exchange(image_file_, nullptr));
    }
    image_records_.clear();
}

int DownloadSequencer::search_and_configure() {
    host_.show_status_and_wait("Configuring modem, please wait...", STEP_PAUSE_MS);
    for (const PortTableEntry& entry : port_table_) {
        // A port whose device did not open stays on the open-port list, where the exit-time
        // clean-up (or the end of the run, if it is the last one tried) closes it.
        port_ = factory_.open(entry, OPEN_BAUD, 'N', 8, 1);
        if (port_ == nullptr || port_->status != PORT_OK) {
            continue;
        }
        if (configure_on_port() == 0) {
            state_ = STATE_VALIDATE;
            return 0;
        }
        close_port();
    }
    host_.report_outcome("Could not configure modem!");
    return -1;
}

int DownloadSequencer::configure_on_port() {
    for (int baud : SEARCH_BAUD_RATES) {
        if (factory_.set_baud_rate(port_, baud) != PORT_OK) {
            continue;
        }
        identify_modem();
        std::uint8_t reply[COMMAND_REPLY_SIZE];
        if (exchange_command(port_, CMD_CONFIGURE, context_word_, reply) == 0) {
            std::memcpy(device_info_, reply + REPLY_DEVICE_INFO_OFFSET, DEVICE_INFO_SIZE);
            context_word_ = read_le16(reply + REPLY_CONTEXT_WORD_OFFSET);
            return 0;
        }
    }
    return -1;
}

int DownloadSequencer::validate_with_prompt() {
    int outcome = validate_image();
    while (outcome != 0) {
        if (host_.prompt_download_file() != DIALOG_RESULT_OK) {
            host_.end_window(DIALOG_RESULT_CANCEL);
            return -1;
        }
        outcome = validate_image();
    }
    state_ = STATE_ERASE;
    return 0;
}

int DownloadSequencer::erase_step() {
    host_.show_status_and_wait("Erasing modem program memory...", STEP_PAUSE_MS);
    std::uint8_t reply[COMMAND_REPLY_SIZE];
    if (erase_memory(port_, device_info_, reply) != 0) {
        host_.report_outcome("Could not erase modem program memory!");
        return -1;
    }
    state_ = STATE_PROGRAM;
    return 0;
}

int DownloadSequencer::program_step() {
    if (block_count_ == 0) {
        host_.show_status("Programming modem...");
        host_.show_progress(true);
        checksum_total_ = 0;
    }
    host_.set_progress(block_count_);
    std::uint8_t ack[BLOCK_ACK_SIZE];
    // Sent from the records as validated, each checked once more on its way out.
    if (!copy_validated_record(image_records_, block_count_, record_)) {
        host_.report_outcome("Could not program modem!");
        return -1;
    }
    // Counted once per record, however many attempts sending it takes.
    checksum_total_ = static_cast<std::uint16_t>(checksum_total_ + record_checksum(record_));
    if (program_block(port_, record_, block_count_ + 1, ack) != 0) {
        host_.report_outcome("Could not program modem!");
        return -1;
    }
    ++block_count_;
    if (block_count_ >= IMAGE_RECORD_COUNT) {
        host_.show_progress(false);
        state_ = STATE_RESTORE;
    }
    return 0;
}

int DownloadSequencer::restore_step() {
    host_.show_status_and_wait("Restoring modem configuration...", STEP_PAUSE_MS);
    std::uint8_t reply[COMMAND_REPLY_SIZE];
    if (exchange_command(port_, CMD_RESTORE, context_word_, reply) != 0) {
        host_.report_outcome("Could not restore modem configuration!");
        return -1;
    }
    host_.show_status_and_wait("Resetting modem...", STEP_PAUSE_MS);
    send_at_command("ATZ", nullptr);  // the modem resets: its answer does not matter
    state_ = STATE_COMPLETE;
    return 0;
}

int DownloadSequencer::completion_step() {
    char message[64];
    std::snprintf(message, sizeof message, "Download complete!  (%04x)", checksum_total_);
    host_.report_outcome(message);
    return -1;  // the run ends here
}

int DownloadSequencer::send_at_command(const char* command, char* reply) {
    if (port_ == nullptr) {
        return -1;
    }
    return ::send_at_command(port_, command, reply);
}

int DownloadSequencer::identify_modem() {
    if (port_ == nullptr) {
        return 0;
    }
    return ::identify_modem(port_, host_, modem_map_path_, &identification_);
}

int DownloadSequencer::validate_image() {
    close_image_file();
    return ::validate_image(host_, image_file_, image_records_);
}
