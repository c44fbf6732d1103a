#include "tools/modem_sim/modem_session.h"

#include <algorithm>
#include <cstdio>

#include "engine/block_checksum.h"
#include "tools/modem_sim/modem_replies.h"

namespace {

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void break_check_field(std::vector<std::uint8_t>& bytes) {
    bytes[bytes.size() - 2] ^= 0xFF;
}

}  // namespace

ModemSession::ModemSession(ModemSettings settings, EventLog& log, std::string flash_out_path)
    : settings_(std::move(settings)),
      log_(log),
      flash_out_path_(std::move(flash_out_path)),
      packets_(settings_.packet_idle),
      download_mode_(settings_.faults.ignore_at) {}

bool ModemSession::hears_at(unsigned line_speed, std::size_t count) {
    line_speed_ = line_speed;
    if (settings_.bauds.empty() || settings_.bauds.count(line_speed) != 0) {
        return true;
    }
    log_.write("garbled " + std::to_string(count) + " bytes at " + std::to_string(line_speed) +
               " baud");
    return false;
}

void ModemSession::receive(const std::uint8_t* bytes, std::size_t count, SimTime now) {
    for (std::size_t i = 0; i < count && !hung_up_; ++i) {
        if (!download_mode_) {
            receive_text(bytes[i], now);
        } else if (auto frame = packets_.push(bytes[i], now)) {
            handle_frame(*frame, now);
        }
    }
}

void ModemSession::expire(SimTime now) {
    if (download_mode_ && !hung_up_) {
        if (auto frame = packets_.expire(now)) {
            handle_frame(*frame, now);
        }
    }
}

std::optional<SimTime> ModemSession::deadline() const {
    return download_mode_ ? packets_.deadline() : std::nullopt;
}

bool ModemSession::write_flash_if_changed() {
    if (flash_out_path_.empty() || flash_written_) {
        return false;
    }
    flash_written_ = flash_.write_to(flash_out_path_);
    return flash_written_;
}

void ModemSession::receive_text(std::uint8_t byte, SimTime now) {
    if (auto command = text_lines_.push(byte)) {
        answer_command(*command, now);
    }
}

void ModemSession::answer_command(const std::string& command, SimTime now) {
    log_.write("AT " + command);
    note_heard(command, {});
    AtResponse response =
        answer_at_command(command, settings_.model, settings_.faults.refuse_download_mode);
    std::string text = settings_.faults.noisy_at ? add_line_noise(response.text) : response.text;
    send(std::vector<std::uint8_t>(text.begin(), text.end()), now);
    if (response.action == AtAction::enter_download_mode) {
        enter_download_mode();
    }
}

void ModemSession::enter_download_mode() {
    download_mode_ = true;
    packets_.reset();
    log_.write("download mode");
}

void ModemSession::handle_frame(const Frame& frame, SimTime now) {
    note_heard({}, frame.bytes);
    switch (frame.kind) {
        case FrameKind::configure:
            handle_configure(now);
            break;
        case FrameKind::erase:
            handle_erase(frame, now);
            break;
        case FrameKind::restore:
            handle_restore(frame, now);
            break;
        case FrameKind::record:
            handle_record(frame, now);
            break;
        case FrameKind::bad_record:
            log_.write("bad record check, tag " + hex16(read_le16(frame.bytes.data())));
            break;
        case FrameKind::dropped:
            log_.write("dropped " + std::to_string(frame.bytes.size()) + " bytes");
            break;
    }
}

std::vector<std::uint8_t> ModemSession::command_reply(std::uint16_t code) const {
    return make_command_reply(code, settings_.device_info, settings_.context_word);
}

void ModemSession::handle_configure(SimTime now) {
    ++configure_count_;
    log_.write("configure");
    if (settings_.faults.xoff_on_configure) {
        send({0x13}, now);
        settings_.faults.silent = true;
        log_.write("configure answered with XOFF");
        return;
    }
    std::vector<std::uint8_t> reply = command_reply(CMD_CONFIGURE);
    if (settings_.faults.corrupt_configure.count(configure_count_) != 0) {
        break_check_field(reply);
        log_.write("configure reply corrupted");
    }
    send(std::move(reply), now);
}

void ModemSession::handle_erase(const Frame& frame, SimTime now) {
    log_.write("erase");
    if (!std::equal(settings_.device_info.begin(), settings_.device_info.end(),
                    frame.bytes.begin() + 2)) {
        log_.write("erase refused: foreign device info");
        return;
    }
    flash_.erase();
    flash_written_ = false;
    last_record_.clear();
    last_record_acknowledged_ = true;
    if (settings_.faults.no_erase_confirm) {
        return;
    }
    send(command_reply(CMD_ERASE), now + settings_.erase_time);
}

void ModemSession::handle_record(const Frame& frame, SimTime now) {
    std::uint16_t tag = read_le16(frame.bytes.data());
    bool resent = !last_record_acknowledged_ && frame.bytes == last_record_;
    std::size_t number = resent ? last_record_number_ : flash_.record_count() + 1;
    log_.write("record " + std::to_string(number) + " tag " + hex16(tag));
    const ModemFaults& faults = settings_.faults;
    if (number == faults.hangup_record) {
        log_.write("hangup at record " + std::to_string(number));
        hung_up_ = true;
        return;
    }
    flash_.program(number, frame.bytes.data());
    flash_written_ = false;

    std::vector<std::uint8_t> ack = make_block_ack(
        number == faults.wrong_tag_record ? static_cast<std::uint16_t>(tag + 1) : tag);
    if (number == faults.bad_ack_check_record) {
        break_check_field(ack);
    }
    last_record_ = frame.bytes;
    last_record_number_ = number;
    const bool silent = faults.silent_from_record != 0 && number >= faults.silent_from_record;
    last_record_acknowledged_ =
        !silent && number != faults.wrong_tag_record && number != faults.bad_ack_check_record;
    if (silent) {
        log_.write("record " + std::to_string(number) + " not acknowledged");
        return;
    }
    send(std::move(ack), now);
}

void ModemSession::handle_restore(const Frame& frame, SimTime now) {
    log_.write("restore");
    std::uint16_t context = read_le16(frame.bytes.data() + 2);
    if (context != settings_.context_word) {
        log_.write("restore refused: context " + hex16(context));
        return;
    }
    if (write_flash_if_changed()) {
        log_.write("flash written, records " + std::to_string(flash_.record_count()));
    }
    if (settings_.faults.no_restore_confirm) {
        return;
    }
    send(command_reply(CMD_RESTORE), now);
    download_mode_ = false;
    log_.write("text mode");
}

void ModemSession::send(std::vector<std::uint8_t> bytes, SimTime not_before) {
    if (settings_.faults.silent) {
        return;
    }
    if (settings_.faults.extra_bytes) {
        bytes.insert(bytes.end(), {0xA5, 0x00, 0x5A});
    }
    // Replies leave in the order they were made, even behind a slow erase.
    if (!outbox_.empty()) {
        not_before = std::max(not_before, outbox_.back().not_before);
    }
    outbox_.push_back({std::move(bytes), not_before});
}

void ModemSession::note_heard(std::string command, std::vector<std::uint8_t> packet) {
    if (settings_.keep_heard) {
        heard_.push_back({std::move(command), std::move(packet), line_speed_});
    }
}
