#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "engine/download_host.h"
#include "port/adapter_identity.h"
#include "port/clock.h"
#include "station/port_run.h"
#include "tools/download_cli/console_timer.h"
#include "tools/json_text/json_text.h"

// The download engine's host for scripts (--events): every status message, progress step,
// skipped port and outcome becomes one JSON object per line on out, each with the time it
// happened. Nobody can answer a prompt here, so the download file prompt is cancelled at
// once: the run ends after the validation message, as Cancel would end it.
class EventHost final : public DownloadHost {
  public:
    // Pauses and timer readings come from port_clock(), the clock of the run.
    EventHost(std::ostream& out, ConsoleTimer& timer);

    void show_status(const char* text) override;
    void show_status_and_wait(const char* text, std::uint32_t ms) override;
    void report_outcome(const char* text) override;
    void show_progress(bool visible) override;
    void set_progress(int position) override;
    void enable_close() override {}
    void end_window(int code) override;
    int prompt_download_file() override;
    void start_timer(unsigned timer_id, unsigned period_ms) override;
    void stop_timer(unsigned timer_id) override;

    // What the run learned beyond the messages: the modem's identification (the ATI3
    // answer without the echo and the final OK), the validated image and a port skipped
    // because its device did not open. The image's SHA-256 goes with the outcome too.
    void report_identification(std::string_view ati3_answer);
    void report_image(std::string_view path, std::uint16_t checksum_total, std::string_view sha256);
    void report_skipped_port(std::string_view device, int status);
    // A station's download telling the station that it appended the run's report line (it
    // is on the disk), or why it could not.
    void report_line_written();
    void report_line_failed(std::string_view reason);
    // The adapter of the port the modem answered on, for the outcome.
    void set_adapter(const AdapterIdentity& adapter) { adapter_ = adapter; }
    // Where the outcome event finds the number of records the modem acknowledged.
    void set_records_done_source(std::function<int()> records_done);
    // Sees every event as it goes out.
    void set_event_observer(std::function<void(const nlohmann::ordered_json&)> observer);

    bool window_ended() const { return window_ended_; }
    int exit_code() const { return exit_code_; }

  private:
    void emit(const nlohmann::ordered_json& event);
    // The event's time and kind, then its members.
    void emit_outcome(const char* result, std::string_view text, int records);
    static nlohmann::ordered_json event_of(std::string_view kind,
                                           const nlohmann::ordered_json& members = {});

    std::ostream& out_;
    ConsoleTimer& timer_;
    std::string last_status_;
    AdapterIdentity adapter_;
    std::string host_;
    std::string image_sha256_;
    std::function<int()> records_done_;
    std::function<void(const nlohmann::ordered_json&)> observer_;
    bool window_ended_ = false;
    int exit_code_ = 1;
};

// The identification line(s) of an ATI3 answer: the echoed command and the closing OK
// dropped, the rest joined by single spaces.
std::string trimmed_identification(std::string_view ati3_answer);
