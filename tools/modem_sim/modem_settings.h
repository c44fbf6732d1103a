#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

// Misbehaviours the simulated modem can be told to show, for tests of the host's failure
// handling. Record numbers are 1-based; a resent record keeps its number.
struct ModemFaults {
    bool silent = false;                   // never sends a byte
    bool ignore_at = false;                // starts in download mode, where AT commands are noise
    bool refuse_download_mode = false;     // answers AT*Y120 and AT*D with ERROR
    std::set<unsigned> corrupt_configure;  // configure replies sent with a wrong check field
    bool no_erase_confirm = false;
    unsigned wrong_tag_record = 0;      // acknowledges this record with another tag
    unsigned bad_ack_check_record = 0;  // acknowledges this record with a wrong check field
    bool no_restore_confirm = false;
    bool noisy_at = false;            // NUL bytes and noise inside text-mode replies
    bool extra_bytes = false;         // a few stray bytes after every reply
    unsigned hangup_record = 0;       // closes the line when this record arrives
    unsigned silent_from_record = 0;  // acknowledges no record from this one on
    bool xoff_on_configure = false;   // answers the configure packet with XOFF, then never again
};

struct ModemSettings {
    std::string model = "KORVAN 56K V.90 MODEM";
    std::array<std::uint8_t, 8> device_info = {0x4B, 0x56, 0x35, 0x36, 0x01, 0x00, 0x10, 0x00};
    std::uint16_t context_word = 0x5A3C;
    std::chrono::milliseconds erase_time{300};
    // A download-mode packet is whole once the line has been quiet this long after it; a
    // partial one is dropped then.
    std::chrono::milliseconds packet_idle{20};
    // Line speeds at which the modem understands the host; empty understands any speed.
    std::set<unsigned> bauds;
    // Keeps every command line and packet heard, with its line speed, for a test to read.
    bool keep_heard = false;
    ModemFaults faults;
};
