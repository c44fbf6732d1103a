#pragma once

#include <string>
#include <vector>

#include "station/port_run.h"
#include "tools/json_text/json_text.h"

// The port named in a note about the whole station rather than one of its ports.
inline constexpr char STATION_NOTE_PORT[] = "station";

// How a host sees the station. Called only from inside the Station's own calls (start,
// step, ...), on the thread that makes them. Text in the runs, events and notes comes from
// outside (modems, devices, file names): a view escapes it as it shows it.
class StationView {
  public:
    virtual ~StationView() = default;
    // One event of a port's download, already applied to run.
    virtual void show_event(const PortRun& run, const nlohmann::ordered_json& event) = 0;
    // A line of the station's own about a port (STATION_NOTE_PORT: about the whole line),
    // or a line the download wrote that is no event.
    virtual void show_note(const std::string& port, const std::string& text) = 0;
    // Watch mode: the modem a port flashed was removed; the port waits for the next one.
    virtual void show_modem_gone(const std::string& port) = 0;
    // The current run of every port, in port order: what a redraw shows.
    virtual void show_ports(const std::vector<const PortRun*>& runs) = 0;
    // Something about the station's settings the user should know ("--all-ports leaves
    // out ..."), said once; by default a note about the whole station.
    virtual void show_warning(const std::string& text) { show_note(STATION_NOTE_PORT, text); }
};
