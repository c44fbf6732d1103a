#include "tools/modem_sim/at_command_handler.h"

#include <algorithm>
#include <cctype>

namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::size_t find_attention(const std::string& line) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) == 'A' &&
            std::toupper(static_cast<unsigned char>(line[i + 1])) == 'T') {
            return i;
        }
    }
    return std::string::npos;
}

const char* const OK_REPLY = "\r\nOK\r\n";
const char* const ERROR_REPLY = "\r\nERROR\r\n";

}  // namespace

std::optional<std::string> AtLineAssembler::push(std::uint8_t byte) {
    if (byte == '\r') {
        std::size_t start = find_attention(line_);
        std::optional<std::string> command;
        if (start != std::string::npos) {
            command = line_.substr(start);
        }
        line_.clear();
        return command;
    }
    if (byte == '\n' || byte == 0) {
        return std::nullopt;
    }
    if (line_.size() >= MAX_LINE) {
        // Keep the tail: a command may still follow a long run of noise.
        line_.erase(0, line_.size() - 1);
    }
    line_.push_back(static_cast<char>(byte));
    return std::nullopt;
}

AtResponse answer_at_command(const std::string& command, const std::string& model,
                             bool refuses_download_mode) {
    AtResponse response;
    response.text = command + "\r";
    std::string name = upper(command);
    if (refuses_download_mode && (name == "AT*Y120" || name == "AT*D")) {
        response.text += ERROR_REPLY;
    } else if (name == "AT" || name == "AT*Y120") {
        response.text += OK_REPLY;
    } else if (name == "ATI3") {
        response.text += "\r\n" + model + "\r\n" + OK_REPLY;
    } else if (name == "AT*D") {
        response.text += OK_REPLY;
        response.action = AtAction::enter_download_mode;
    } else if (name == "ATZ") {
        response.text += OK_REPLY;
        response.action = AtAction::reset;
    } else {
        response.text += ERROR_REPLY;
    }
    return response;
}

std::string add_line_noise(const std::string& reply) {
    // Noise bytes are neither letters nor NUL, so they cannot complete a word the receiver
    // looks for; NUL bytes go between every character.
    std::string noisy("\x00\xff\x1b~\x00", 5);
    for (char c : reply) {
        noisy.push_back(c);
        noisy.push_back('\0');
    }
    noisy += std::string("\x7f\x00#", 3);
    return noisy;
}
