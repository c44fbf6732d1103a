#include "station/station.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>

#include "port/port_discovery.h"
#include "port/port_status.h"
#include "station/child_process.h"
#include "station/line_report.h"
#include "station/port_retry.h"
#include "station/wall_time.h"

using std::chrono::steady_clock;
using std::chrono::system_clock;

// One port of the line and the download running on it, if any.
struct StationSlot {
    std::string port;
    std::string device;
    PortRun run;
    std::unique_ptr<ChildProcess> child;
    std::string pending_output;   // a line the child has not finished yet
    bool child_reported = false;  // the child appended the run's report line itself
    bool port_busy = false;       // the child found the device in use
    // Watch mode: the run's events are shown once it reaches a modem; a run that does not
    // is tried again and was never a run.
    bool holding_events = false;
    std::vector<nlohmann::ordered_json> held_events;
    PortRetry retry;
    bool retry_pending = false;
    std::string wait_reason;  // why the port waits, as last shown
    bool waiting_for_removal = false;
    // Named in the settings: a COM name there is looked up again at every look, so an
    // adapter plugged in after the start is found.
    bool named = false;
    // Only the last run is kept: a station that runs all day must not grow with every flash
    // (the report file is the record of each one).
    std::optional<PortRun> last_finished;
};

namespace {

// What a port's line and report say when its name leads to no device.
constexpr const char* NO_DEVICE = "no device";
// The exit status of a download that failed.
constexpr int DOWNLOAD_FAILED_STATUS = 1;

// What a port's line shows while the station waits for a modem there.
PortRun waiting_run(const std::string& port, const std::string& device) {
    PortRun run;
    run.port = port;
    run.device = device;
    run.step = "Waiting for a modem...";
    run.started_steady = steady_clock::now();
    return run;
}

std::unique_ptr<StationSlot> slot_for(const std::string& port, const std::string& device) {
    auto slot = std::make_unique<StationSlot>();
    slot->port = port;
    slot->device = device;
    slot->run = waiting_run(port, device);
    return slot;
}

}  // namespace

Station::Station(StationSettings settings, StationView& view)
    : settings_(std::move(settings)), view_(view) {}

Station::~Station() = default;

bool Station::start(std::string& error) {
    if (!can_start_program(settings_.program_path, error)) {
        return false;
    }
    started_ = true;
    if (settings_.watch) {
        add_configured_ports();  // all_ports: found at every step
        return true;
    }
    if (settings_.all_ports) {
        add_found_ports();
    } else {
        add_configured_ports();
        leave_out_unmatched_named_ports();
    }
    if (slots_.empty()) {
        error = settings_.port_filters.empty() ? "No serial port found"
                                               : filters_keep_no_port(settings_.port_filters);
        return false;
    }
    for (const auto& slot : slots_) {
        start_download(*slot);
    }
    return true;
}

void Station::step(int wait_ms) {
    if (settings_.watch) {
        look_at_ports();
    }
    view_.show_ports(current_runs());
    collect_output(wait_ms);
}

void Station::stop_when_idle() {
    stopping_ = true;
}

// The runs cut short are reported as such when their downloads' ends are read.
void Station::abort_downloads() {
    stopping_ = true;
    for (const auto& slot : slots_) {
        if (slot->child) {
            slot->child->kill();
        }
    }
}

void Station::set_paused(bool paused) {
    paused_ = paused;
}

bool Station::finished() const {
    return started_ && running_count() == 0 && (!settings_.watch || stopping_);
}

int Station::running_count() const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(),
                                          [](const auto& slot) { return slot->child != nullptr; }));
}

int Station::modems_in_progress() const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const auto& slot) {
        return slot->child != nullptr && !slot->run.identification.empty();
    }));
}

std::vector<const PortRun*> Station::current_runs() const {
    std::vector<const PortRun*> runs;
    for (const auto& slot : slots_) {
        runs.push_back(&slot->run);
    }
    return runs;
}

std::vector<PortRun> Station::last_runs() const {
    std::vector<PortRun> runs;
    for (const auto& slot : slots_) {
        if (slot->last_finished) {
            runs.push_back(*slot->last_finished);
        }
    }
    return runs;
}

int Station::exit_status() const {
    return report_failed_ || completed_ < flashed_ ? 1 : 0;
}

void Station::add_configured_ports() {
    for (const std::string& port : settings_.ports) {
        slots_.push_back(slot_for(port, device_for_port(port)));
        slots_.back()->named = true;
    }
}

// Ports the mapping finds now that the station does not have yet, in the mapping's order.
void Station::add_found_ports() {
    std::vector<std::string> left_out;
    for (const SerialPortName& found : find_serial_ports(left_out)) {
        const bool known = std::any_of(slots_.begin(), slots_.end(), [&found](const auto& slot) {
            return device_identity(slot->device) == device_identity(found.device);
        });
        if (!known && keeps(found.device)) {
            slots_.push_back(slot_for(unique_port_name(found), found.device));
        }
    }
    for (const std::string& device : left_out) {
        if (std::find(left_out_.begin(), left_out_.end(), device) == left_out_.end()) {
            left_out_.push_back(device);
            view_.show_warning("--all-ports leaves out " + device);
        }
    }
}

// COM numbers follow the order of the devices present: a device plugged in later may take
// the number a port here already goes by. Two ports of one name would mix up their tiles
// and report lines, so the newcomer goes by its device.
std::string Station::unique_port_name(const SerialPortName& found) const {
    const bool taken = std::any_of(slots_.begin(), slots_.end(),
                                   [&found](const auto& slot) { return slot->port == found.name; });
    return taken ? found.device : found.name;
}

bool Station::keeps(const std::string& device) const {
    return filters_keep_device(settings_.port_filters, device);
}

// A batch on named ports: a port whose adapter no filter keeps is not opened at all. One
// with no device yet stays, to fail as its own run.
void Station::leave_out_unmatched_named_ports() {
    std::erase_if(slots_, [this](const std::unique_ptr<StationSlot>& slot) {
        if (!device_is_present(slot->device) || keeps(slot->device)) {
            return false;
        }
        view_.show_warning("--port-filter leaves out " + slot->port);
        return true;
    });
}

void Station::say_no_port_matches(const std::string& then) {
    if (!no_match_said_) {
        no_match_said_ = true;
        view_.show_note(STATION_NOTE_PORT, filters_keep_no_port(settings_.port_filters) + then);
    }
}

// Watch mode: new ports, and a download on each port whose modem is there and not yet
// flashed.
void Station::look_at_ports() {
    if (settings_.all_ports && !stopping_) {
        add_found_ports();
        if (slots_.empty() && !settings_.port_filters.empty()) {
            say_no_port_matches("; waiting for one");
        }
    }
    for (const auto& slot : slots_) {
        if (slot->child) {
            continue;
        }
        if (slot->named) {
            slot->device = device_for_port(slot->port);
        }
        look_at_port(*slot);
    }
}

// Starts a download on a port whose device is there and not yet flashed, and notices a
// device that went away.
void Station::look_at_port(StationSlot& slot) {
    const bool present = device_is_present(slot.device);
    if (!present && (slot.waiting_for_removal || slot.retry_pending || !slot.wait_reason.empty())) {
        if (slot.waiting_for_removal) {
            view_.show_modem_gone(slot.port);
        }
        slot.waiting_for_removal = false;
        slot.retry_pending = false;
        slot.retry.reset();
        slot.wait_reason.clear();
        slot.run = waiting_run(slot.port, slot.device);
        return;
    }
    if (!present || slot.waiting_for_removal || stopping_ || paused_) {
        return;
    }
    if (!keeps(slot.device)) {
        const std::string reason = "Waiting: its adapter does not match --port-filter";
        slot.run.step = reason;
        if (reason != slot.wait_reason) {
            slot.wait_reason = reason;
            view_.show_note(slot.port, reason);
        }
        return;
    }
    if (slot.retry_pending && steady_clock::now() < slot.retry.retry_at()) {
        return;
    }
    slot.retry_pending = false;
    start_download(slot);
}

void Station::start_download(StationSlot& slot) {
    // A port that was busy still counts as held until this attempt reaches its modem.
    const std::string holder = slot.run.holder;
    slot.run = PortRun{};
    slot.run.holder = holder;
    slot.run.port = slot.port;
    slot.run.device = slot.device;
    // Known before the child says it, for the report line of a child that never does.
    note_where_run_happens(slot.run);
    slot.run.started = system_clock::now();
    slot.run.started_steady = steady_clock::now();
    slot.pending_output.clear();
    slot.child_reported = false;
    slot.port_busy = false;
    slot.holding_events = settings_.watch;
    slot.held_events.clear();
    if (!device_is_present(slot.device)) {
        end_without_device(slot);
        return;
    }

    std::vector<std::string> arguments = {settings_.program_path, "--port", slot.device, "--events",
                                          "--station-port",       slot.port};
    if (!settings_.image_path.empty()) {
        arguments.insert(arguments.end(), {"--image", settings_.image_path});
    }
    if (!settings_.report_path.empty()) {
        arguments.insert(arguments.end(), {"--report", settings_.report_path});
    }
    if (!settings_.trace_path.empty()) {
        slot.run.trace_path = (std::filesystem::path(settings_.trace_path) /
                               station_trace_name(slot.port, compact_utc_time(slot.run.started)))
                                  .string();
        arguments.insert(arguments.end(), {"--trace", slot.run.trace_path});
    }
    std::string error;
    slot.child = start_child_process(arguments, error);
    if (!slot.child) {
        slot.run.result = RESULT_FAILED;
        slot.run.message = "Could not start the download: " + error;
        view_.show_note(slot.port, slot.run.message);
        finish_run(slot.run, ChildExit{DOWNLOAD_FAILED_STATUS, 0}, system_clock::now(),
                   steady_clock::now());
        end_download(slot);
    }
}

// Nothing to open: a download given no device would search every port instead. The port
// ends as a run of its own would, with an outcome.
void Station::end_without_device(StationSlot& slot) {
    nlohmann::ordered_json outcome = {{"time", iso8601_utc(slot.run.started)},
                                      {"event", "outcome"},
                                      {"result", RESULT_FAILED},
                                      {"text", NO_DEVICE},
                                      {"records", 0}};
    add_adapter_and_host(outcome, slot.run.usb_serial, slot.run.by_id, slot.run.host);
    outcome["image_sha256"] = "";
    apply_event(slot.run, outcome);
    view_.show_event(slot.run, outcome);
    finish_run(slot.run, ChildExit{DOWNLOAD_FAILED_STATUS, 0}, system_clock::now(),
               steady_clock::now());
    end_download(slot);
}

void Station::collect_output(int wait_ms) {
    std::vector<ChildProcess*> children;
    for (const auto& slot : slots_) {
        if (slot->child) {
            children.push_back(slot->child.get());
        }
    }
    // Watch mode waits for the next look at the ports even with nothing running.
    if (wait_ms > 0 && (!children.empty() || settings_.watch)) {
        wait_for_child_output(children, wait_ms);
    }
    for (const auto& slot : slots_) {
        if (slot->child) {
            take_output(*slot);
        }
    }
}

void Station::take_output(StationSlot& slot) {
    const bool open = slot.child->read_output(slot.pending_output);
    std::size_t end;
    while ((end = slot.pending_output.find('\n')) != std::string::npos) {
        std::string line = slot.pending_output.substr(0, end);
        slot.pending_output.erase(0, end + 1);
        take_line(slot, line);
    }
    if (open) {
        return;
    }
    if (!slot.pending_output.empty()) {
        take_line(slot, slot.pending_output);
    }
    const ChildExit exit = slot.child->wait_for_exit();
    slot.child.reset();
    finish_run(slot.run, exit, system_clock::now(), steady_clock::now());
    if (settings_.watch && try_again_later(slot)) {
        return;
    }
    show_held_events(slot);
    end_download(slot);
}

void Station::take_line(StationSlot& slot, const std::string& line) {
    std::optional<nlohmann::ordered_json> event = json_object_of_line(line);
    if (!event) {
        if (!line.empty()) {
            // Not an event: what the child said on its error output (a device it cannot use).
            view_.show_note(slot.port, line);
        }
        return;
    }
    const std::string kind = text_member(*event, "event");
    if (kind == EVENT_REPORT_WRITTEN) {
        slot.child_reported = true;
    } else if (kind == EVENT_REPORT_FAILED) {
        slot.child_reported = true;  // it tried: nothing of the line is in the file
        note_report_failure(slot, text_member(*event, "text"));
    } else {
        if (kind == "skipped" && number_member(*event, "status", 0) == PORT_E_IN_USE) {
            slot.port_busy = true;
        }
        apply_event(slot.run, *event);
        show_run_event(slot, *event);
    }
}

void Station::show_run_event(StationSlot& slot, const nlohmann::ordered_json& event) {
    const std::string kind = text_member(event, "event");
    const bool reached = kind == "identification" ||
                         (kind == "outcome" && text_member(event, "result") != RESULT_NO_MODEM);
    if (slot.holding_events && !reached) {
        slot.held_events.push_back(event);
        return;
    }
    show_held_events(slot);
    view_.show_event(slot.run, event);
}

// The run counts: what it held back is shown after all, and the rest as it comes.
void Station::show_held_events(StationSlot& slot) {
    slot.holding_events = false;
    for (const nlohmann::ordered_json& held : slot.held_events) {
        view_.show_event(slot.run, held);
    }
    slot.held_events.clear();
}

// Watch mode, a run just ended: one that did not reach a modem (the port busy, no answer
// yet) is no run; the port is tried again shortly, unless the policy says it counts.
bool Station::try_again_later(StationSlot& slot) {
    if (slot.run.reached_modem()) {
        slot.retry.reset();
        return false;
    }
    const PortRetry::Attempt attempt =
        slot.port_busy ? PortRetry::Attempt::port_busy : PortRetry::Attempt::no_answer;
    if (!slot.retry.try_again(attempt, slot.run.started_steady, steady_clock::now())) {
        return false;
    }
    const std::string holder = slot.port_busy ? describe_busy_device(slot.device) : "";
    const std::string reason = "Waiting: " + (slot.port_busy ? holder : "no modem answered");
    slot.run = waiting_run(slot.port, slot.device);
    slot.run.step = reason;
    slot.run.holder = holder;
    slot.held_events.clear();
    slot.retry_pending = true;
    if (reason != slot.wait_reason) {
        slot.wait_reason = reason;
        view_.show_note(slot.port, reason + ", trying again every few seconds");
    }
    return true;
}

void Station::end_download(StationSlot& slot) {
    slot.last_finished = slot.run;
    ++flashed_;
    completed_ += slot.run.result == RESULT_COMPLETE ? 1 : 0;
    slot.waiting_for_removal = true;
    slot.wait_reason.clear();
    // The station writes the line of a run whose download did not: it found no modem (the
    // station decides whether that counts), crashed, or could not start.
    if (settings_.report_path.empty() || slot.child_reported) {
        return;
    }
    std::string error;
    if (!append_report(settings_.report_path, slot.run, error)) {
        note_report_failure(slot, error);
    }
}

void Station::note_report_failure(const StationSlot& slot, const std::string& error) {
    report_failed_ = true;
    view_.show_note(slot.port,
                    "Could not append to the report " + settings_.report_path + ": " + error);
}
