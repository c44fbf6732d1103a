#pragma once

#include <chrono>
#include <string>

#include "tools/download_cli/json_object.h"

// What the production line knows of one download on one port, learned from the child's
// event stream.
struct PortRun {
    std::string port;    // as the user named it (COM3, /dev/ttyUSB0)
    std::string device;  // what the child opens
    std::string identification;
    std::string image_path;
    std::string checksum;  // the image's checksum total, four hex digits
    std::string step;      // the last status message
    int records = 0;       // records acknowledged so far
    std::string result;    // empty while the download runs
    std::string message;   // the final message
    std::chrono::system_clock::time_point started{};
    std::chrono::system_clock::time_point ended{};
    std::chrono::steady_clock::time_point started_steady{};
    double seconds = 0;      // from start to end, once ended
    std::string trace_path;  // the run's trace file in a station with --trace, else empty

    bool finished() const { return !result.empty(); }
};

// Takes in one event of the child's stream.
void apply_event(PortRun& run, const JsonObject& event);
// Closes the run when the child's output has ended: a child that ended without an outcome
// (it crashed or could not start the download) counts as failed, with its exit status.
void finish_run(PortRun& run, int exit_status, std::chrono::system_clock::time_point wall_now,
                std::chrono::steady_clock::time_point now);
