#include "engine/download_protocol.h"

#include <cstring>
#include <string>

#include "engine/block_checksum.h"
#include "port/port_trace.h"
#include "port/port_transfer.h"

namespace {

// What a request and its reply are called in a trace of the line.
struct ExchangeNames {
    std::string request;
    std::string request_again;  // the same request sent once more
    std::string reply;
};

ExchangeNames command_names(std::uint16_t code) {
    switch (code) {
        case CMD_CONFIGURE:
            return {"configure", "configure", "configure reply"};
        case CMD_RESTORE:
            return {"restore", "restore", "restore reply"};
        default:
            return {"bytes", "bytes", "reply"};
    }
}

bool command_reply_ok(const std::uint8_t* reply) {
    return check_field_matches(reply, COMMAND_REPLY_SIZE - 2);
}

// One request, its reply and the check of that reply, tried EXCHANGE_ATTEMPTS times.
// Input that arrived before the request (a late reply to an earlier attempt, say) is
// thrown away first so it is never taken for this request's reply.
template <typename ReplyCheck>
int exchange(PortObject* port, const std::uint8_t* request, std::size_t request_size,
             std::uint8_t* reply, std::size_t reply_size, int timeout_ms, ReplyCheck reply_ok,
             const ExchangeNames& names) {
    for (int attempt = 0; attempt < EXCHANGE_ATTEMPTS; ++attempt) {
        port->clear_tx(port);
        port_drain_input(port, timeout_ms);
        port_trace_label(port, attempt == 0 ? names.request : names.request_again, names.reply);
        if (port->write_block(port, request, static_cast<unsigned>(request_size)) != PORT_OK) {
            continue;
        }
        if (port_read_exact(port, reply, static_cast<unsigned>(reply_size), timeout_ms) !=
            PORT_OK) {
            continue;
        }
        if (reply_ok(reply)) {
            return 0;
        }
    }
    return -1;
}

}  // namespace

int exchange_command(PortObject* port, std::uint16_t code, std::uint16_t context_word,
                     std::uint8_t* reply) {
    std::uint8_t packet[COMMAND_PACKET_SIZE];
    write_le16(packet, code);
    write_le16(packet + 2, context_word);
    write_le16(packet + 4, block_checksum(packet, 4));
    return exchange(port, packet, sizeof packet, reply, COMMAND_REPLY_SIZE,
                    COMMAND_REPLY_TIMEOUT_MS, command_reply_ok, command_names(code));
}

int erase_memory(PortObject* port, const std::uint8_t* device_info, std::uint8_t* reply) {
    std::uint8_t packet[ERASE_PACKET_SIZE];
    write_le16(packet, CMD_ERASE);
    std::memcpy(packet + 2, device_info, DEVICE_INFO_SIZE);
    write_le16(packet + 10, block_checksum(packet, 10));
    return exchange(port, packet, sizeof packet, reply, COMMAND_REPLY_SIZE, ERASE_REPLY_TIMEOUT_MS,
                    command_reply_ok, {"erase", "erase", "erase reply"});
}

int program_block(PortObject* port, const std::uint8_t* record, int record_number,
                  std::uint8_t* reply) {
    auto acknowledges_record = [record](const std::uint8_t* ack) {
        return check_field_matches(ack, 2) && read_le16(ack) == read_le16(record);
    };
    const std::string name = "record " + std::to_string(record_number);
    return exchange(port, record, PROGRAM_PACKET_SIZE, reply, BLOCK_ACK_SIZE, BLOCK_ACK_TIMEOUT_MS,
                    acknowledges_record, {name, name + " again", "acknowledgement of " + name});
}
