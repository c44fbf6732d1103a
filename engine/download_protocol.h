#pragma once

#include <cstddef>
#include <cstdint>

#include "port/port_object.h"

// Command codes of the download mode, little-endian on the wire (CMD_CONFIGURE is 00 01).
inline constexpr std::uint16_t CMD_CONFIGURE = 0x0100;
inline constexpr std::uint16_t CMD_ERASE = 0x0200;
inline constexpr std::uint16_t CMD_RESTORE = 0x0300;

inline constexpr std::size_t COMMAND_PACKET_SIZE = 6;
inline constexpr std::size_t ERASE_PACKET_SIZE = 12;
inline constexpr std::size_t PROGRAM_PACKET_SIZE = 1028;
inline constexpr std::size_t COMMAND_REPLY_SIZE = 16;
inline constexpr std::size_t BLOCK_ACK_SIZE = 4;
inline constexpr std::size_t DEVICE_INFO_SIZE = 8;
// Where the configure reply carries what later packets send back.
inline constexpr std::size_t REPLY_DEVICE_INFO_OFFSET = 2;
inline constexpr std::size_t REPLY_CONTEXT_WORD_OFFSET = 12;

inline constexpr int COMMAND_REPLY_TIMEOUT_MS = 500;
inline constexpr int ERASE_REPLY_TIMEOUT_MS = 10000;
inline constexpr int BLOCK_ACK_TIMEOUT_MS = 1000;
inline constexpr int EXCHANGE_ATTEMPTS = 2;

// Each sends its request and waits for a reply whose check field matches, twice at most.
// 0: reply holds the reply that passed; -1: both attempts failed (reply not meaningful).

// Command packet: code, context word, check field. reply: COMMAND_REPLY_SIZE bytes.
int exchange_command(PortObject* port, std::uint16_t code, std::uint16_t context_word,
                     std::uint8_t* reply);
// Erase packet: CMD_ERASE and the device info of the configure reply. reply: 16 bytes.
int erase_memory(PortObject* port, const std::uint8_t* device_info, std::uint8_t* reply);
// One image record sent unchanged; the acknowledgement (4 bytes into reply) must repeat
// its record tag. record_number (from 1) names it in a trace of the line.
int program_block(PortObject* port, const std::uint8_t* record, int record_number,
                  std::uint8_t* reply);
