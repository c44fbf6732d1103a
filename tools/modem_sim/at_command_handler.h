#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Text mode: command lines are collected up to their carriage return and answered the way
// a Hayes-style modem answers them.

// Collects received bytes into command lines. Anything before "AT" on a line (noise, a
// packet sent while the modem still listens for text) is dropped, like a modem does while
// hunting for the attention characters.
class AtLineAssembler {
  public:
    // The command line from its "AT" on, once the carriage return that ends it arrives.
    // Lines without "AT" end silently.
    std::optional<std::string> push(std::uint8_t byte);

  private:
    static constexpr std::size_t MAX_LINE = 258;
    std::string line_;
};

enum class AtAction { none, enter_download_mode, reset };

struct AtResponse {
    std::string text;  // echo of the command line, then the result
    AtAction action = AtAction::none;
};

// A modem that refuses download mode answers its two commands (AT*Y120, AT*D) with ERROR.
AtResponse answer_at_command(const std::string& command, const std::string& model,
                             bool refuses_download_mode = false);

// The same reply with NUL bytes and line noise mixed in; every text in it still reads the
// same to a receiver that skips NUL bytes.
std::string add_line_noise(const std::string& reply);
