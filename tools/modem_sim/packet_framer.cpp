#include "tools/modem_sim/packet_framer.h"

#include "engine/block_checksum.h"

std::optional<Frame> PacketFramer::push(std::uint8_t byte, SimTime now) {
    buffer_.push_back(byte);
    last_byte_ = now;
    if (buffer_.size() < PROGRAM_PACKET_SIZE) {
        return std::nullopt;
    }
    Frame frame{check_field_matches(buffer_.data(), PROGRAM_PACKET_SIZE - 2)
                    ? FrameKind::record
                    : FrameKind::bad_record,
                std::move(buffer_)};
    buffer_.clear();
    return frame;
}

std::optional<FrameKind> PacketFramer::complete_command() const {
    if (buffer_.size() < 2) {
        return std::nullopt;
    }
    std::uint16_t code = read_le16(buffer_.data());
    std::size_t expected = 0;
    FrameKind kind = FrameKind::dropped;
    if (code == CMD_CONFIGURE || code == CMD_RESTORE) {
        expected = COMMAND_PACKET_SIZE;
        kind = code == CMD_CONFIGURE ? FrameKind::configure : FrameKind::restore;
    } else if (code == CMD_ERASE) {
        expected = ERASE_PACKET_SIZE;
        kind = FrameKind::erase;
    }
    if (expected == 0 || buffer_.size() != expected ||
        !check_field_matches(buffer_.data(), expected - 2)) {
        return std::nullopt;
    }
    return kind;
}

std::optional<Frame> PacketFramer::expire(SimTime now) {
    if (buffer_.empty() || now - last_byte_ < idle_) {
        return std::nullopt;
    }
    Frame frame{complete_command().value_or(FrameKind::dropped), std::move(buffer_)};
    buffer_.clear();
    return frame;
}

std::optional<SimTime> PacketFramer::deadline() const {
    if (buffer_.empty()) {
        return std::nullopt;
    }
    return last_byte_ + idle_;
}

void PacketFramer::reset() {
    buffer_.clear();
}
