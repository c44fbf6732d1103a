#include "tools/download_cli/port_run.h"

#include "tools/download_cli/event_host.h"

void apply_event(PortRun& run, const JsonObject& event) {
    const std::string kind = event.string_of("event");
    if (kind == "status") {
        run.step = event.string_of("text");
    } else if (kind == "progress") {
        run.records = static_cast<int>(event.number_of("records", run.records));
    } else if (kind == "identification") {
        run.identification = event.string_of("text");
    } else if (kind == "image") {
        run.image_path = event.string_of("path");
        run.checksum = event.string_of("checksum");
    } else if (kind == "outcome") {
        run.result = event.string_of("result");
        run.message = event.string_of("text");
        run.records = static_cast<int>(event.number_of("records", run.records));
    }
}

void finish_run(PortRun& run, int exit_status, std::chrono::system_clock::time_point wall_now,
                std::chrono::steady_clock::time_point now) {
    if (!run.finished()) {
        run.result = RESULT_FAILED;
        run.message = "The download ended without an outcome (exit status " +
                      std::to_string(exit_status) + ")";
    } else if (run.result == RESULT_COMPLETE && exit_status != 0) {
        // Completion is believed only when the child agrees with its own last word.
        run.result = RESULT_FAILED;
        run.message += " (but the download exited with status " + std::to_string(exit_status) + ")";
    }
    run.ended = wall_now;
    run.seconds = std::chrono::duration<double>(now - run.started_steady).count();
}
