#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/port_discovery.h"
#include "station/port_run.h"
#include "station/station_settings.h"
#include "station/station_view.h"

struct StationSlot;

// The production line: one ordinary single-port download per port, each in a child process
// (settings.program_path) reporting through its event stream, all at once; in watch mode,
// each modem that appears on a port is flashed once, until the station is stopped. The
// station never blocks longer than a step, reads no signal and writes no terminal: its host
// drives it with step() and sees it through its StationView.
class Station {
  public:
    Station(StationSettings settings, StationView& view);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Takes the ports (named, or found with all_ports) and, in a batch, starts every
    // download. False (with the reason in error) when there is nothing to run.
    bool start(std::string& error);
    // Does whatever is due: reads the downloads' output, ends runs (writing the report lines
    // the downloads did not), in watch mode looks at the ports and starts downloads. Waits
    // at most wait_ms for output; step(0) never blocks.
    void step(int wait_ms);
    // No new download starts; the ones running finish.
    void stop_when_idle();
    // Ends every running download at once (they are reported failed) and starts no new one.
    void abort_downloads();
    // Watch mode: while paused no new download starts; the running ones finish.
    void set_paused(bool paused);
    bool paused() const { return paused_; }
    const StationSettings& settings() const { return settings_; }

    // A batch whose downloads all ended, or a stopped station with none running.
    bool finished() const;
    int running_count() const;
    // Of those, the ones whose modem answered: the rest are still looking for one.
    int modems_in_progress() const;
    // Runs that counted since start (reached a modem, or were given up on), and of those
    // the ones that completed.
    int flashed_count() const { return flashed_; }
    int completed_count() const { return completed_; }
    // Whether a report line could not be written since the start.
    bool report_failed() const { return report_failed_; }
    // The current run of each port, in port order (a finished one stays until its modem
    // goes). Valid until the next call that changes the station.
    std::vector<const PortRun*> current_runs() const;
    // The last finished run of each port that had one.
    std::vector<PortRun> last_runs() const;
    // 0 when every run completed and every report line was written, else 1.
    int exit_status() const;

  private:
    void add_configured_ports();
    void add_found_ports();
    bool keeps(const std::string& device) const;
    std::string unique_port_name(const SerialPortName& found) const;
    void leave_out_unmatched_named_ports();
    void say_no_port_matches(const std::string& then);
    void look_at_ports();
    void look_at_port(StationSlot& slot);
    void start_download(StationSlot& slot);
    void end_without_device(StationSlot& slot);
    void collect_output(int wait_ms);
    void take_output(StationSlot& slot);
    void take_line(StationSlot& slot, const std::string& line);
    void show_run_event(StationSlot& slot, const nlohmann::ordered_json& event);
    void show_held_events(StationSlot& slot);
    bool try_again_later(StationSlot& slot);
    void end_download(StationSlot& slot);
    void note_report_failure(const StationSlot& slot, const std::string& error);

    StationSettings settings_;
    StationView& view_;
    std::vector<std::unique_ptr<StationSlot>> slots_;
    std::vector<std::string> left_out_;  // devices all_ports does not take, said once each
    bool no_match_said_ = false;         // that the port filters keep no port, said once
    int flashed_ = 0;
    int completed_ = 0;
    bool started_ = false;
    bool report_failed_ = false;
    bool stopping_ = false;
    bool paused_ = false;
};
