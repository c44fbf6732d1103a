#include "tests/support/memory_modem.h"

#include <algorithm>
#include <chrono>

#include "engine/download_protocol.h"

ModemSettings test_modem_settings() {
    ModemSettings settings;
    settings.model = "KV-56 Rev 3";
    settings.device_info = {1, 2, 3, 4, 5, 6, 7, 8};
    settings.context_word = 0x1234;
    return settings;
}

MemoryModem::MemoryModem(MemoryLine& line, ModemSettings settings)
    : line_(line), settings_(std::move(settings)) {
    settings_.keep_heard = true;
    restart();
    line_.on_write = [this](MemoryLine&, const std::uint8_t* bytes, std::size_t length) {
        on_write(bytes, length);
    };
}

MemoryModem::~MemoryModem() {
    line_.on_write = nullptr;
}

void MemoryModem::restart() {
    session_ = std::make_unique<ModemSession>(settings_, log_);
}

void MemoryModem::on_write(const std::uint8_t* bytes, std::size_t length) {
    if (!session_->hears_at(line_speed_, length)) {
        return;
    }
    const SimTime now = SimTime{} + std::chrono::milliseconds(line_.clock_reading());
    session_->receive(bytes, length, now);
    if (auto quiet = session_->deadline()) {
        session_->expire(*quiet);
    }
    deliver_replies(now);
}

void MemoryModem::deliver_replies(SimTime now) {
    auto& outbox = session_->outbox();
    for (; !outbox.empty(); outbox.pop_front()) {
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(outbox.front().not_before - now, SimClock::duration::zero()));
        line_.deliver(outbox.front().bytes, static_cast<std::uint32_t>(delay.count()));
    }
}

std::vector<std::string> MemoryModem::commands() const {
    std::vector<std::string> commands;
    for (const HeardRequest& heard : session_->heard()) {
        if (!heard.command.empty()) {
            commands.push_back(heard.command);
        }
    }
    return commands;
}

std::vector<std::vector<std::uint8_t>> MemoryModem::packets() const {
    std::vector<std::vector<std::uint8_t>> packets;
    for (const HeardRequest& heard : session_->heard()) {
        if (heard.command.empty()) {
            packets.push_back(heard.packet);
        }
    }
    return packets;
}

std::vector<std::vector<std::uint8_t>> MemoryModem::records() const {
    std::vector<std::vector<std::uint8_t>> records = packets();
    std::erase_if(records, [](const auto& packet) { return packet.size() != PROGRAM_PACKET_SIZE; });
    return records;
}

std::vector<unsigned> MemoryModem::line_speeds() const {
    std::vector<unsigned> speeds;
    for (const HeardRequest& heard : session_->heard()) {
        speeds.push_back(heard.line_speed);
    }
    return speeds;
}
