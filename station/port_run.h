#pragma once

#include <chrono>
#include <string>

#include "station/child_process.h"
#include "tools/json_text/json_text.h"

// Outcome names of the event stream and the report.
inline constexpr char RESULT_COMPLETE[] = "complete";
inline constexpr char RESULT_FAILED[] = "failed";
inline constexpr char RESULT_CANCELLED[] = "cancelled";
inline constexpr char RESULT_NO_MODEM[] = "no modem";

// The events a station's download adds after its outcome.
inline constexpr char EVENT_REPORT_WRITTEN[] = "reported";
inline constexpr char EVENT_REPORT_FAILED[] = "report_failed";

// What the production line knows of one download on one port, learned from the child's
// event stream.
struct PortRun {
    std::string port;        // as the user named it (COM3, /dev/ttyUSB0)
    std::string device;      // what the child opens
    std::string usb_serial;  // the USB adapter behind device: its serial number and by-id
    std::string by_id;       // name, each empty when the port has none
    std::string host;        // the machine that flashed
    std::string identification;
    std::string image_path;
    std::string checksum;  // the image's checksum total, four hex digits
    std::string image_sha256;
    std::string step;     // the last status message
    int records = 0;      // records acknowledged so far
    std::string result;   // empty while the download runs
    std::string message;  // the final message
    std::chrono::system_clock::time_point started{};
    std::chrono::system_clock::time_point ended{};
    std::chrono::steady_clock::time_point started_steady{};
    double seconds = 0;      // from start to end, once ended
    std::string trace_path;  // the run's trace file in a station with --trace, else empty
    // While a watching station waits for a port another program holds: who holds it ("in
    // use by ModemManager (pid 812)"), so a window can tell a busy port from an idle one.
    std::string holder;

    bool finished() const { return !result.empty(); }
    // Whether the run came as far as a modem: one that ended in "no modem" changed nothing.
    bool reached_modem() const;
};

// Who was flashed where, as the outcome and the report say it: the USB adapter's serial
// number and by-id name when it has them, then the machine's name.
void add_adapter_and_host(nlohmann::ordered_json& object, const std::string& usb_serial,
                          const std::string& by_id, const std::string& host);
// Fills in the machine and the USB adapter behind the run's device, as far as known.
void note_where_run_happens(PortRun& run);
// Takes in one event of the child's stream.
void apply_event(PortRun& run, const nlohmann::ordered_json& event);
// Closes the run when its download has ended: one that ended without an outcome (it crashed
// or could not start) counts as failed, saying how it ended.
void finish_run(PortRun& run, const ChildExit& exit, std::chrono::system_clock::time_point wall_now,
                std::chrono::steady_clock::time_point now);
// The trace file of a run in a production line: the port's name with every character
// outside [A-Za-z0-9._-] replaced, and the start time ("COM3-20261208T061329.123Z.trace").
std::string station_trace_name(const std::string& port, const std::string& compact_utc_time);
// "exit status 3", "ended by signal 9".
std::string describe_child_exit(const ChildExit& exit);
