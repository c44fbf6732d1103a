#pragma once

#include <string>

#include "station/port_run.h"
#include "tools/json_text/json_text.h"

// The report object of one finished run: port, device, the adapter's usb_serial and by_id
// (when known), host, identification, image, checksum, image_sha256, result, message,
// records, start, end (ISO 8601), duration (seconds), version and, when the run was traced,
// its trace file.
nlohmann::ordered_json report_object(const PortRun& run, const std::string& version);

// Appends the run's report object as a line to the report file, never rewriting what is
// there, so a day of production is one file. True once the line is on the disk; false
// (with the reason in error) when it is not, and then no part of it is in the file.
bool append_report(const std::string& path, const PortRun& run, std::string& error);
// Whether objects can be appended to the report file (created when missing).
bool can_append_to(const std::string& path, std::string& error);
