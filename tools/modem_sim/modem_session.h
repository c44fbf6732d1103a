#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "tools/modem_sim/at_command_handler.h"
#include "tools/modem_sim/event_log.h"
#include "tools/modem_sim/flash_store.h"
#include "tools/modem_sim/modem_settings.h"
#include "tools/modem_sim/packet_framer.h"

// Bytes the modem sends, not before the given time (an erase takes a while).
struct Transmission {
    std::vector<std::uint8_t> bytes;
    SimTime not_before;
};

// A command line or download-mode packet as the modem heard it, with the line speed then.
struct HeardRequest {
    std::string command;               // a text-mode command line; empty for a packet
    std::vector<std::uint8_t> packet;  // download-mode bytes, whether they made a packet or not
    unsigned line_speed = 0;
};

// The modem's side of the line without the line itself: bytes in, replies out, in text
// mode or download mode. Time comes from the caller, so it runs the same on a pty and in a
// test.
class ModemSession {
  public:
    ModemSession(ModemSettings settings, EventLog& log, std::string flash_out_path = {});

    // Whether the modem understands bytes arriving at this line speed (settings.bauds);
    // bytes at another speed are garbage to it, logged as such and not to be received.
    bool hears_at(unsigned line_speed, std::size_t count);
    void receive(const std::uint8_t* bytes, std::size_t count, SimTime now);
    // Handles a download-mode packet whose line has gone quiet.
    void expire(SimTime now);
    // When expire() next has something to do.
    std::optional<SimTime> deadline() const;

    // Replies waiting to be sent, oldest first; the caller pops what it sends.
    std::deque<Transmission>& outbox() { return outbox_; }

    bool download_mode() const { return download_mode_; }
    // The modem closed the line (a fault asked for it); it takes nothing more.
    bool hung_up() const { return hung_up_; }
    const FlashStore& flash() const { return flash_; }
    // Faults can be switched while the modem runs; ignore_at counts only at the start.
    ModemFaults& faults() { return settings_.faults; }
    // Kept only with settings.keep_heard.
    const std::vector<HeardRequest>& heard() const { return heard_; }
    // Writes the programmed records to the flash-out file unless it is up to date; true
    // when it wrote them.
    bool write_flash_if_changed();

  private:
    void receive_text(std::uint8_t byte, SimTime now);
    void answer_command(const std::string& command, SimTime now);
    void handle_frame(const Frame& frame, SimTime now);
    void handle_configure(SimTime now);
    void handle_erase(const Frame& frame, SimTime now);
    void handle_record(const Frame& frame, SimTime now);
    void handle_restore(const Frame& frame, SimTime now);
    void enter_download_mode();
    std::vector<std::uint8_t> command_reply(std::uint16_t code) const;
    void send(std::vector<std::uint8_t> bytes, SimTime not_before);
    void note_heard(std::string command, std::vector<std::uint8_t> packet);

    ModemSettings settings_;
    EventLog& log_;
    std::string flash_out_path_;
    AtLineAssembler text_lines_;
    PacketFramer packets_;
    FlashStore flash_;
    std::deque<Transmission> outbox_;
    bool download_mode_ = false;
    bool hung_up_ = false;
    bool flash_written_ = false;
    unsigned configure_count_ = 0;
    unsigned line_speed_ = 0;
    std::vector<HeardRequest> heard_;
    // The last record and whether its acknowledgement was a good one; a host that got no
    // good acknowledgement sends the same record again, which then keeps its number.
    std::vector<std::uint8_t> last_record_;
    bool last_record_acknowledged_ = true;
    std::size_t last_record_number_ = 0;
};
