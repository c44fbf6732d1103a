#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/download_host.h"
#include "engine/download_image.h"
#include "port/clock.h"
#include "port/port_object.h"
#include "port/port_table_entry.h"

// How the sequencer opens ports and changes their speed; tests put a fake modem here.
struct PortFactory {
    std::function<PortObject*(const PortTableEntry& port, int baud, char parity, int data_bits,
                              int stop_bits)>
        open;
    std::function<PortStatus(PortObject* port, int baud)> set_baud_rate;
};
// open_windows_port and set_baud_rate of the serial driver.
PortFactory serial_port_factory();
// COM3, COM4, COM2, COM1, COM5..COM9.
const std::vector<PortTableEntry>& default_port_table();

// Every port is opened at OPEN_BAUD, then searched at each of SEARCH_BAUD_RATES in turn.
inline constexpr int OPEN_BAUD = 9600;
inline constexpr int SEARCH_BAUD_RATES[] = {115200, 57600};

// ".\modems.cfg" on Windows, "./modems.cfg" elsewhere.
std::string default_modem_map_path();

inline constexpr unsigned SEQUENCER_TIMER_PERIOD_MS = 25;

// One whole download run as a state machine, one step per timer tick. Holds the run state;
// each host (window or console) owns one and forwards its timer ticks to OnTimer. The clock
// it is given becomes the port layer's clock (port_clock()) for the sequencer's lifetime,
// so the port's waits, the AT exchange, the pauses and the host's pauses all run on it.
class DownloadSequencer {
  public:
    DownloadSequencer(DownloadHost& host, Clock& clock, unsigned timer_id,
                      PortFactory factory = serial_port_factory());
    ~DownloadSequencer();
    DownloadSequencer(const DownloadSequencer&) = delete;
    DownloadSequencer& operator=(const DownloadSequencer&) = delete;

    // Starts a run: clears the current download path, enters state 1 and arms the timer.
    void begin_run();
    // One step of the run. The timer identifier is not examined.
    void OnTimer(unsigned timer_id);

    // 0 when no run is in progress (before begin_run and after a run ended), else 1..6.
    int state() const { return state_; }
    // While a run is in progress the host must not end: that would abandon a half-written
    // modem, so the windows refuse Cancel, Escape and Close until this turns false.
    bool run_in_progress() const { return state_ != 0; }
    unsigned timer_id() const { return timer_id_; }

    // Replaces the ports searched (default: default_port_table()).
    void set_port_table(std::vector<PortTableEntry> table);
    // Path of the modem map file read by identification (default ".\modems.cfg" on
    // Windows, "./modems.cfg" elsewhere).
    void set_modem_map_path(std::string path);

    // Read-only view of the run state for hosts and tests.
    int block_count() const { return block_count_; }
    std::uint16_t checksum_total() const { return checksum_total_; }
    std::uint16_t context_word() const { return context_word_; }
    PortObject* port() const { return port_; }
    std::FILE* image_file() const { return image_file_; }
    // The records of the image that passed validation, as they are sent.
    const ImageRecords& image_records() const { return image_records_; }
    // The ATI3 answer of the modem last identified, echo included; empty before that.
    const std::string& identification() const { return identification_; }

  private:
    int send_at_command(const char* command, char* reply);
    int identify_modem();
    int validate_image();
    int perform_step();
    void end_run();
    int search_and_configure();
    int configure_on_port();
    int validate_with_prompt();
    int erase_step();
    int program_step();
    int restore_step();
    int completion_step();
    void close_port();
    void close_image_file();

    DownloadHost& host_;
    PortClockBinding clock_binding_;
    PortFactory factory_;
    std::vector<PortTableEntry> port_table_;
    std::string modem_map_path_;
    std::string identification_;

    // Run state.
    unsigned timer_id_;
    int state_ = 0;
    int block_count_ = 0;
    std::uint16_t checksum_total_ = 0;
    std::uint8_t device_info_[8] = {};
    std::uint16_t context_word_ = 0;
    std::FILE* image_file_ = nullptr;
    ImageRecords image_records_;
    PortObject* port_ = nullptr;
    std::uint8_t record_[IMAGE_RECORD_SIZE] = {};
};
