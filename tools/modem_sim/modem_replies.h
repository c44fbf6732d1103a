#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/download_protocol.h"

// The download-mode replies a modem sends, each with a valid check field: written once for
// the simulated modem and for tests that play the modem's part themselves.

// The 16-byte reply to a command packet (configure, erase, restore).
std::vector<std::uint8_t> make_command_reply(
    std::uint16_t code, const std::array<std::uint8_t, DEVICE_INFO_SIZE>& device_info,
    std::uint16_t context_word);
// The 4-byte acknowledgement of a record: its tag and the check field.
std::vector<std::uint8_t> make_block_ack(std::uint16_t tag);
