#include "station/port_run.h"

#include "port/adapter_identity.h"
#include "tools/host_name/host_name.h"

namespace {

// A member the event may carry, replacing what the run knew only when it does.
void take_text(const nlohmann::ordered_json& event, const char* key, std::string& field) {
    if (event.contains(key)) {
        field = text_member(event, key);
    }
}

}  // namespace

void add_adapter_and_host(nlohmann::ordered_json& object, const std::string& usb_serial,
                          const std::string& by_id, const std::string& host) {
    if (!usb_serial.empty()) {
        object["usb_serial"] = json_text(usb_serial);
    }
    if (!by_id.empty()) {
        object["by_id"] = json_text(by_id);
    }
    object["host"] = json_text(host);
}

void note_where_run_happens(PortRun& run) {
    const AdapterIdentity adapter = adapter_identity(run.device);
    run.usb_serial = adapter.serial_number;
    run.by_id = adapter.by_id;
    run.host = host_name();
}

void apply_event(PortRun& run, const nlohmann::ordered_json& event) {
    const std::string kind = text_member(event, "event");
    if (kind == "status") {
        run.step = text_member(event, "text");
    } else if (kind == "progress") {
        run.records = static_cast<int>(number_member(event, "records", run.records));
    } else if (kind == "identification") {
        run.identification = text_member(event, "text");
    } else if (kind == "image") {
        run.image_path = text_member(event, "path");
        run.checksum = text_member(event, "checksum");
        take_text(event, "image_sha256", run.image_sha256);
    } else if (kind == "outcome") {
        run.result = text_member(event, "result");
        run.message = text_member(event, "text");
        run.records = static_cast<int>(number_member(event, "records", run.records));
        take_text(event, "usb_serial", run.usb_serial);
        take_text(event, "by_id", run.by_id);
        take_text(event, "host", run.host);
        take_text(event, "image_sha256", run.image_sha256);
    }
}

bool PortRun::reached_modem() const {
    return !finished() || result != RESULT_NO_MODEM;
}

void finish_run(PortRun& run, const ChildExit& exit, std::chrono::system_clock::time_point wall_now,
                std::chrono::steady_clock::time_point now) {
    if (!run.finished()) {
        run.result = RESULT_FAILED;
        run.message = "The download ended without an outcome (" + describe_child_exit(exit) + ")";
    } else if (run.result == RESULT_COMPLETE && (exit.status != 0 || exit.signal != 0)) {
        // Completion is believed only when the child agrees with its own last word.
        run.result = RESULT_FAILED;
        run.message += " (but the download ended with " + describe_child_exit(exit) + ")";
    }
    run.ended = wall_now;
    run.seconds = std::chrono::duration<double>(now - run.started_steady).count();
}

std::string describe_child_exit(const ChildExit& exit) {
    if (exit.signal != 0) {
        return "ended by signal " + std::to_string(exit.signal);
    }
    return "exit status " + std::to_string(exit.status);
}

std::string station_trace_name(const std::string& port, const std::string& compact_utc_time) {
    std::string name;
    for (const char c : port) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        name += safe ? c : '-';
    }
    // "/dev/pts/5" gives "-dev-pts-5": no name starts with a dash or a dot.
    name.erase(0, name.find_first_not_of("-."));
    return (name.empty() ? "port" : name) + "-" + compact_utc_time + ".trace";
}
