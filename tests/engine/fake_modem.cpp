#include "tests/engine/fake_modem.h"

#include "engine/block_checksum.h"
#include "engine/download_protocol.h"

FakeModem::FakeModem(MemoryLine& line) : line_(line) {
    line_.on_write = [this](MemoryLine&, const std::uint8_t* bytes, std::size_t length) {
        on_write(bytes, length);
    };
}

void FakeModem::on_write(const std::uint8_t* bytes, std::size_t length) {
    if (only_at_baud != 0 && baud != only_at_baud) {
        return;  // garbage at the wrong speed
    }
    if (in_download_mode) {
        download_request(bytes, length);
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        text_byte(bytes[i]);
    }
}

void FakeModem::text_byte(std::uint8_t byte) {
    if (byte != '\r') {
        pending_line_.push_back(static_cast<char>(byte));
        return;
    }
    // Whatever came before "AT" (a packet sent in text mode, say) is line noise.
    std::size_t at = pending_line_.find("AT");
    std::string command = at == std::string::npos ? "" : pending_line_.substr(at);
    pending_line_.clear();
    if (!command.empty()) {
        commands.push_back(command);
        bauds_heard.push_back(baud);
        if (answers_at) {
            text_command(command);
        }
    }
}

void FakeModem::text_command(const std::string& command) {
    std::string answer = command + "\r";  // echo
    if (command == "AT" || command == "ATZ") {
        answer += "\r\nOK\r\n";
    } else if (command == "ATI3") {
        answer += "\r\n" + identification + "\r\n\r\nOK\r\n";
    } else if (command == "AT*Y120") {
        answer += accepts_download_mode ? "\r\nOK\r\n" : "\r\nERROR\r\n";
    } else if (command == "AT*D") {
        in_download_mode = accepts_download_mode;
        return;
    } else {
        answer += "\r\nERROR\r\n";
    }
    line_.deliver(answer.c_str(), reply_delay_ms);
}

void FakeModem::download_request(const std::uint8_t* bytes, std::size_t length) {
    requests.emplace_back(bytes, bytes + length);
    bauds_heard.push_back(baud);
    if (length == COMMAND_PACKET_SIZE) {
        std::uint16_t code = read_le16(bytes);
        if ((code == CMD_CONFIGURE && answers_configure) ||
            (code == CMD_RESTORE && answers_restore)) {
            send_command_reply(code);
        }
        if (code == CMD_RESTORE && answers_restore) {
            in_download_mode = false;
        }
    } else if (length == ERASE_PACKET_SIZE) {
        if (answers_erase) {
            send_command_reply(CMD_ERASE);
        }
    } else if (length == PROGRAM_PACKET_SIZE) {
        int index = program_packets++;
        if (silent_from_record >= 0 && index >= silent_from_record) {
            return;
        }
        std::uint16_t tag = read_le16(bytes);
        send(make_block_ack(echoes_wrong_tag ? static_cast<std::uint16_t>(tag + 1) : tag));
    }
}

void FakeModem::send_command_reply(std::uint16_t code) {
    send(make_command_reply(code, device_info, context_word));
}

void FakeModem::send(std::vector<std::uint8_t> reply) {
    if (corrupt_replies > 0) {
        --corrupt_replies;
        reply.back() ^= 0xFF;
    }
    line_.deliver(reply, reply_delay_ms);
}
