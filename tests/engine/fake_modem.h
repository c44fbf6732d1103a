#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/memory_port.h"
#include "tools/modem_sim/modem_replies.h"

// Plays the modem at the far end of a MemoryLine: answers AT commands in text mode and,
// after "AT*D", the packets of the download mode. Every knob below is a fault to inject.
class FakeModem {
  public:
    explicit FakeModem(MemoryLine& line);

    // Text mode.
    bool answers_at = true;
    bool accepts_download_mode = true;  // answer to "AT*Y120"
    std::string identification = "KV-56 Rev 3";
    // Download mode.
    std::array<std::uint8_t, 8> device_info = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint16_t context_word = 0x1234;
    bool answers_configure = true;
    bool answers_erase = true;
    bool answers_restore = true;
    int corrupt_replies = 0;      // the next this many replies go out with a bad check field
    int silent_from_record = -1;  // 0-based program packet from which on nothing is answered
    bool echoes_wrong_tag = false;
    // Line speed the host set; when only_at_baud is not 0 the modem hears nothing else.
    int baud = 0;
    int only_at_baud = 0;
    std::uint32_t reply_delay_ms = 2;

    bool in_download_mode = false;
    std::vector<std::string> commands;                // AT command lines, without the CR
    std::vector<std::vector<std::uint8_t>> requests;  // download-mode requests, in order
    int program_packets = 0;
    std::vector<int> bauds_heard;  // line speed of every command line and request

  private:
    void on_write(const std::uint8_t* bytes, std::size_t length);
    void text_byte(std::uint8_t byte);
    void text_command(const std::string& command);
    void download_request(const std::uint8_t* bytes, std::size_t length);
    void send_command_reply(std::uint16_t code);
    void send(std::vector<std::uint8_t> reply);

    MemoryLine& line_;
    std::string pending_line_;
};
