// The simulator's packet framer on any byte stream with any gaps: no byte is lost or made
// up, and every packet it reports is one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "engine/block_checksum.h"
#include "tools/modem_sim/packet_framer.h"

namespace {

void check_frame(const Frame& frame, std::vector<std::uint8_t>& framed) {
    const std::size_t size = frame.bytes.size();
    bool sound = true;
    switch (frame.kind) {
        case FrameKind::configure:
        case FrameKind::restore:
            sound = size == COMMAND_PACKET_SIZE && check_field_matches(frame.bytes.data(), 4);
            break;
        case FrameKind::erase:
            sound = size == ERASE_PACKET_SIZE && check_field_matches(frame.bytes.data(), 10);
            break;
        case FrameKind::record:
            sound = size == PROGRAM_PACKET_SIZE &&
                    check_field_matches(frame.bytes.data(), PROGRAM_PACKET_SIZE - 2);
            break;
        case FrameKind::bad_record:
            sound = size == PROGRAM_PACKET_SIZE &&
                    !check_field_matches(frame.bytes.data(), PROGRAM_PACKET_SIZE - 2);
            break;
        case FrameKind::dropped:
            sound = size > 0 && size < PROGRAM_PACKET_SIZE;
            break;
    }
    if (!sound) {
        std::abort();
    }
    framed.insert(framed.end(), frame.bytes.begin(), frame.bytes.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    PacketFramer framer(std::chrono::milliseconds(20));
    SimTime now{};
    std::vector<std::uint8_t> pushed;
    std::vector<std::uint8_t> framed;
    while (input.remaining_bytes() > 0) {
        now += std::chrono::milliseconds(input.ConsumeIntegralInRange(0, 40));
        if (auto frame = framer.expire(now)) {
            check_frame(*frame, framed);
        }
        const auto burst = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(1, 64));
        for (std::uint8_t byte : burst) {
            pushed.push_back(byte);
            if (auto frame = framer.push(byte, now)) {
                check_frame(*frame, framed);
            }
        }
    }
    if (auto deadline = framer.deadline()) {
        if (auto frame = framer.expire(*deadline)) {
            check_frame(*frame, framed);
        }
    }
    if (framer.deadline() || framed != pushed) {
        std::abort();
    }
    return 0;
}
