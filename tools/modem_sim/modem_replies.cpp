#include "tools/modem_sim/modem_replies.h"

#include <algorithm>

#include "engine/block_checksum.h"

std::vector<std::uint8_t> make_command_reply(
    std::uint16_t code, const std::array<std::uint8_t, DEVICE_INFO_SIZE>& device_info,
    std::uint16_t context_word) {
    std::vector<std::uint8_t> reply(COMMAND_REPLY_SIZE, 0);
    write_le16(reply.data(), code);
    std::copy(device_info.begin(), device_info.end(), reply.begin() + REPLY_DEVICE_INFO_OFFSET);
    write_le16(reply.data() + REPLY_CONTEXT_WORD_OFFSET, context_word);
    write_le16(reply.data() + COMMAND_REPLY_SIZE - 2,
               block_checksum(reply.data(), COMMAND_REPLY_SIZE - 2));
    return reply;
}

std::vector<std::uint8_t> make_block_ack(std::uint16_t tag) {
    std::vector<std::uint8_t> ack(BLOCK_ACK_SIZE);
    write_le16(ack.data(), tag);
    write_le16(ack.data() + 2, block_checksum(ack.data(), 2));
    return ack;
}
