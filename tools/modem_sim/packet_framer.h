#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/download_protocol.h"
#include "tools/modem_sim/modem_settings.h"

// Download mode has no start or end markers, so packets are cut out of the byte stream by
// their size and check field:
// - a 6-byte command packet (code 0x0100 or 0x0300) or a 12-byte erase packet (0x0200) is
//   taken when its check field matches and the line then stays quiet for the idle time; a
//   byte arriving sooner means it was the start of a record (a record tag can equal a
//   command code, and its first bytes can even pass the command's check);
// - anything else is a 1028-byte program packet, taken when complete;
// - bytes left over when the line has been quiet for the idle time are dropped.
enum class FrameKind {
    configure,
    erase,
    restore,
    record,
    bad_record,  // 1028 bytes whose check field does not match
    dropped,     // bytes that made no packet
};

struct Frame {
    FrameKind kind;
    std::vector<std::uint8_t> bytes;
};

class PacketFramer {
  public:
    explicit PacketFramer(std::chrono::milliseconds idle) : idle_(idle) {}

    // A program packet or bad record completed by this byte.
    std::optional<Frame> push(std::uint8_t byte, SimTime now);
    // A command packet or dropped bytes, once the line has been quiet long enough.
    std::optional<Frame> expire(SimTime now);
    // When expire() has something to do; none while nothing is buffered.
    std::optional<SimTime> deadline() const;
    void reset();

  private:
    std::optional<FrameKind> complete_command() const;

    std::chrono::milliseconds idle_;
    std::vector<std::uint8_t> buffer_;
    SimTime last_byte_{};
};
