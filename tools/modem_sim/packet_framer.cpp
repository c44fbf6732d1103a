#include "tools/modem_sim/packet_framer.h"

#include "engine/block_checksum.h"

std::optional<Frame> PacketFramer::push(std::uint8_t byte, SimTime now) {
    buffer_.push_back(byte);
    last_byte_ = now;
    if (buffer_.size() < PROGRAM_PACKET_BYTES) {
        return std::nullopt;
    }
    Frame frame{check_field_matches(buffer_.data(), PROGRAM_PACKET_BYTES - 2)
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
    if (code == packet_code::configure || code == packet_code::restore) {
        expected = COMMAND_PACKET_BYTES;
        kind = code == packet_code::configure ? FrameKind::configure : FrameKind::restore;
    } else if (code == packet_code::erase) {
        expected = ERASE_PACKET_BYTES;
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
