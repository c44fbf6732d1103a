#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/port_run.h"

// A run's report line as (name, value) pairs, in the line's order: strings as they are,
// numbers and the rest as the line writes them. Not escaped.
std::vector<std::pair<std::string, std::string>> report_fields(const PortRun& run);

// The port's last finished run, if it had one.
std::optional<PortRun> last_run_of(const std::vector<PortRun>& last_runs, const std::string& port);

// What a station window's details of one port say, whatever the toolkit: printable ASCII
// lines. last_run is the port's last finished flash, if it had one, shown with its report
// line's fields; note is the station's last word about the port (a report it could not
// append to), if any.
std::string details_text(const std::string& port, const std::string& adapter,
                         const std::optional<PortRun>& last_run, const std::string& note);
