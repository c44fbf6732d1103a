#include "tools/download_cli/event_host.h"

#include <chrono>
#include <cstdio>
#include <ostream>
#include <utility>

#include "station/wall_time.h"
#include "tools/host_name/host_name.h"

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

const char* result_of_outcome(std::string_view text) {
    if (starts_with(text, "Download complete!")) {
        return RESULT_COMPLETE;
    }
    if (text == "Could not configure modem!") {
        return RESULT_NO_MODEM;
    }
    return RESULT_FAILED;
}

}  // namespace

EventHost::EventHost(std::ostream& out, ConsoleTimer& timer)
    : out_(out), timer_(timer), host_(host_name()) {}

void EventHost::show_status(const char* text) {
    last_status_ = text;
    emit(event_of("status", {{"text", json_text(text)}}));
}

void EventHost::show_status_and_wait(const char* text, std::uint32_t ms) {
    show_status(text);
    if (ms > 0) {
        port_clock().sleep_ms(ms);
    }
}

void EventHost::report_outcome(const char* text) {
    const char* result = result_of_outcome(text);
    exit_code_ = result == RESULT_COMPLETE ? 0 : 1;
    emit_outcome(result, text, records_done_ ? records_done_() : 0);
}

void EventHost::show_progress(bool visible) {
    // The engine hides the bar after the last acknowledgement without moving it there.
    if (!visible && records_done_) {
        set_progress(records_done_());
    }
}

void EventHost::set_progress(int position) {
    emit(event_of("progress", {{"records", position}}));
}

void EventHost::end_window(int code) {
    window_ended_ = true;
    exit_code_ = code;
    if (code == DIALOG_RESULT_CANCEL) {
        // The validation message just shown says why there is no image to write.
        emit_outcome(RESULT_CANCELLED, last_status_, 0);
    }
}

int EventHost::prompt_download_file() {
    return DIALOG_RESULT_CANCEL;
}

void EventHost::start_timer(unsigned timer_id, unsigned period_ms) {
    timer_.start(timer_id, period_ms, port_clock().tick_ms());
}

void EventHost::stop_timer(unsigned timer_id) {
    timer_.stop(timer_id);
}

void EventHost::report_identification(std::string_view ati3_answer) {
    emit(event_of("identification", {{"text", json_text(trimmed_identification(ati3_answer))}}));
}

void EventHost::report_image(std::string_view path, std::uint16_t checksum_total,
                             std::string_view sha256) {
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04x", checksum_total);
    image_sha256_ = sha256;
    emit(event_of(
        "image",
        {{"path", json_text(path)}, {"checksum", checksum}, {"image_sha256", json_text(sha256)}}));
}

void EventHost::report_skipped_port(std::string_view device, int status) {
    emit(event_of("skipped", {{"device", json_text(device)}, {"status", status}}));
}

void EventHost::report_line_written() {
    emit(event_of(EVENT_REPORT_WRITTEN));
}

void EventHost::report_line_failed(std::string_view reason) {
    emit(event_of(EVENT_REPORT_FAILED, {{"text", json_text(reason)}}));
}

void EventHost::set_event_observer(std::function<void(const nlohmann::ordered_json&)> observer) {
    observer_ = std::move(observer);
}

void EventHost::set_records_done_source(std::function<int()> records_done) {
    records_done_ = std::move(records_done);
}

void EventHost::emit_outcome(const char* result, std::string_view text, int records) {
    nlohmann::ordered_json outcome =
        event_of("outcome", {{"result", result}, {"text", json_text(text)}, {"records", records}});
    add_adapter_and_host(outcome, adapter_.serial_number, adapter_.by_id, host_);
    outcome["image_sha256"] = json_text(image_sha256_);
    emit(outcome);
}

void EventHost::emit(const nlohmann::ordered_json& event) {
    if (observer_) {
        observer_(event);
    }
    out_ << json_line(event) << '\n' << std::flush;
}

nlohmann::ordered_json EventHost::event_of(std::string_view kind,
                                           const nlohmann::ordered_json& members) {
    nlohmann::ordered_json event = {{"time", iso8601_utc(std::chrono::system_clock::now())},
                                    {"event", kind}};
    for (const auto& [key, value] : members.items()) {
        event[key] = value;
    }
    return event;
}

std::string trimmed_identification(std::string_view ati3_answer) {
    std::string joined;
    bool first_line = true;
    while (!ati3_answer.empty()) {
        const std::size_t end = ati3_answer.find_first_of("\r\n");
        std::string_view line = ati3_answer.substr(0, end);
        ati3_answer.remove_prefix(end == std::string_view::npos ? ati3_answer.size() : end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        const bool echo = first_line && starts_with(line, "ATI3");
        first_line = false;
        if (line.empty() || echo || line == "OK") {
            continue;
        }
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += line;
    }
    return joined;
}
