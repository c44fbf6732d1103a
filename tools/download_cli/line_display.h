#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "station/port_run.h"
#include "station/station_view.h"
#include "tools/json_text/json_text.h"

// How the production line shows its ports.
enum class LineOutput {
    terminal,  // one line per port redrawn in place, then a summary table
    plain,     // every event as one line prefixed with its port, then the summary table
    events,    // the children's events as JSON lines, each with its "port"
};

// The station as the console shows it.
class LineDisplay final : public StationView {
  public:
    // columns gives the terminal's width now (0: unknown); the port lines are cut to it.
    // Warnings go to err as the program's own.
    LineDisplay(std::ostream& out, std::ostream& err, LineOutput output,
                std::function<int()> columns = {});

    // One event of a port's child (already applied to run).
    void show_event(const PortRun& run, const nlohmann::ordered_json& event) override;
    // A message of the station itself about a port (or a line the child wrote that is not
    // an event): a line of its own, in every output.
    void show_note(const std::string& port, const std::string& text) override;
    // In the watch mode, the modem a port flashed is gone and the port waits for the next:
    // a line of its own off a terminal (a terminal's port line shows it already).
    void show_modem_gone(const std::string& port) override;
    // The port lines redrawn as they are now.
    void show_ports(const std::vector<const PortRun*>& runs) override;
    // "korvan-download-cli: --all-ports leaves out ..." on the error output.
    void show_warning(const std::string& text) override;
    // Redraws the port lines on a terminal, each cut to its width; nothing otherwise.
    void redraw(const std::vector<const PortRun*>& runs, std::chrono::steady_clock::time_point now);
    // The table of finished runs, once at the end (not in the event output).
    void show_summary(const std::vector<PortRun>& runs);

  private:
    void show_plain_event(const PortRun& run, const nlohmann::ordered_json& event);
    void erase_port_lines();

    std::ostream& out_;
    std::ostream& err_;
    LineOutput output_;
    std::function<int()> columns_;
    int drawn_lines_ = 0;
    int drawn_columns_ = 0;
};

// One port's line on a terminal: port (padded to port_width), identification, step,
// records done / 224, elapsed.
std::string port_line(const PortRun& run, std::chrono::steady_clock::time_point now,
                      std::size_t port_width);
