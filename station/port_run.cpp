#include "station/port_run.h"

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
    } else if (kind == "outcome") {
        run.result = text_member(event, "result");
        run.message = text_member(event, "text");
        run.records = static_cast<int>(number_member(event, "records", run.records));
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
