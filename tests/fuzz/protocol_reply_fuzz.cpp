// The download protocol's exchanges against any replies, arriving at any times: a reply is
// only ever accepted when its check field (and, for a record, its tag) is right.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "engine/block_checksum.h"
#include "engine/download_protocol.h"
#include "port/port_transfer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_port.h"

namespace {

int no_events(PortObject*) {
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int exchange = input.ConsumeIntegralInRange<int>(0, 2);
    std::vector<std::uint8_t> record(PROGRAM_PACKET_SIZE);
    write_le16(record.data(), input.ConsumeIntegral<std::uint16_t>());
    const auto device_info = input.ConsumeBytes<std::uint8_t>(DEVICE_INFO_SIZE);

    FakeClock clock(input.ConsumeIntegral<std::uint32_t>(), 50);
    PortClockBinding bound_clock(clock);
    port_idle_hook = no_events;
    MemoryLine line;
    line.clock = &clock;
    line.tx_room = input.ConsumeIntegralInRange<unsigned>(0, 1100);
    // Each write the host makes is answered with the next scripted piece.
    std::vector<std::vector<std::uint8_t>> answers;
    std::vector<std::uint32_t> delays;
    while (input.remaining_bytes() > 0 && answers.size() < 8) {
        delays.push_back(input.ConsumeIntegralInRange<std::uint32_t>(0, 12000));
        answers.push_back(input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 40)));
    }
    std::size_t next_answer = 0;
    line.on_write = [&](MemoryLine& l, const std::uint8_t*, std::size_t) {
        if (next_answer < answers.size()) {
            l.deliver(answers[next_answer], delays[next_answer]);
            ++next_answer;
        }
    };
    PortObject* port = open_memory_port(line);
    std::uint8_t info[DEVICE_INFO_SIZE] = {};
    std::copy(device_info.begin(), device_info.end(), info);
    std::uint8_t reply[COMMAND_REPLY_SIZE] = {};
    int result = -1;
    bool accepted_bad_reply = false;
    switch (exchange) {
        case 0:
            result = exchange_command(port, CMD_CONFIGURE, 0, reply);
            accepted_bad_reply = result == 0 && !check_field_matches(reply, COMMAND_REPLY_SIZE - 2);
            break;
        case 1:
            result = erase_memory(port, info, reply);
            accepted_bad_reply = result == 0 && !check_field_matches(reply, COMMAND_REPLY_SIZE - 2);
            break;
        default:
            result = program_block(port, record.data(), 1, reply);
            accepted_bad_reply = result == 0 && (!check_field_matches(reply, BLOCK_ACK_SIZE - 2) ||
                                                 read_le16(reply) != read_le16(record.data()));
            break;
    }
    port->close(port);
    port_idle_hook = dispatch_pending_messages;
    if ((result != 0 && result != -1) || accepted_bad_reply) {
        std::abort();
    }
    return 0;
}
