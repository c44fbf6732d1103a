#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "station/port_run.h"

// The adapter label (adapter_label) a window shows for each port, looked up once per
// download rather than at every redraw: asking the system costs a directory walk or a
// registry search, and another adapter may take the same name after a replug, but not in
// the middle of a flash.
class AdapterLabels {
  public:
    // The label of the adapter behind a device as the system tells it now.
    using Lookup = std::function<std::string(const std::string& device)>;

    AdapterLabels();
    explicit AdapterLabels(Lookup lookup);

    // The label for run's device, looked up again when a new download began on it.
    const std::string& label_of(const PortRun& run);

  private:
    struct Known {
        std::chrono::system_clock::time_point started;  // of the run it was looked up for
        std::string label;
    };
    Lookup lookup_;
    std::map<std::string, Known> known_;  // by device
};
