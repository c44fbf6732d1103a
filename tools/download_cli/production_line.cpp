#include "tools/download_cli/production_line.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "port/port_discovery.h"
#include "port/port_filter.h"
#include "station/child_process.h"
#include "station/interrupts.h"
#include "station/line_report.h"
#include "station/port_retry.h"
#include "station/port_run.h"
#include "station/wall_time.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/image_check.h"
#include "tools/download_cli/line_display.h"
#include "tools/download_cli/output_files.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/terminal.h"

namespace {

using std::chrono::steady_clock;
using std::chrono::system_clock;

// What a port's line and report say when its name leads to no device.
constexpr const char* NO_DEVICE = "no device";

// How long the station waits for output before it looks at the ports and the terminal again.
constexpr int LOOK_AGAIN_MS = 200;

// One port of the line and the download running on it, if any.
struct Slot {
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
    // Named on the command line: a COM name there is looked up again at every look, so an
    // adapter plugged in after the start is found.
    bool named = false;
    // Only the last run is kept: a station that runs all day must not grow with every flash
    // (the report file is the record of each one).
    std::optional<PortRun> last_finished;
};

class Station {
  public:
    Station(const CliOptions& options, LineDisplay& display)
        : options_(options), display_(display) {}

    int run_batch();
    int run_watch();

  private:
    void add_configured_ports();
    void add_found_ports();
    bool keeps(const std::string& device) const;
    void leave_out_unmatched_named_ports();
    void say_no_port_matches(const std::string& then);
    void start_download(Slot& slot);
    void collect_output();
    void take_output(Slot& slot);
    void take_line(Slot& slot, const std::string& line);
    void show_run_event(Slot& slot, const nlohmann::ordered_json& event);
    void show_held_events(Slot& slot);
    bool try_again_later(Slot& slot);
    void look_at_port(Slot& slot);
    void end_download(Slot& slot);
    void note_report_failure(const Slot& slot, const std::string& error);
    void note_interrupt_once();
    void abort_once();
    void redraw();
    int busy_count() const;
    int exit_status() const;
    void show_summary();

    const CliOptions& options_;
    LineDisplay& display_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<std::string> left_out_;  // devices --all-ports does not take, said once each
    bool no_match_said_ = false;         // that --port-filter keeps no port, said once
    int flashed_ = 0;
    int completed_ = 0;
    bool report_failed_ = false;
    bool interrupt_noted_ = false;
    bool aborted_ = false;
};

// What a port's line shows while the station waits for a modem there.
PortRun waiting_run(const std::string& port, const std::string& device) {
    PortRun run;
    run.port = port;
    run.device = device;
    run.step = "Waiting for a modem...";
    run.started_steady = steady_clock::now();
    return run;
}

std::unique_ptr<Slot> slot_for(const std::string& port, const std::string& device) {
    auto slot = std::make_unique<Slot>();
    slot->port = port;
    slot->device = device;
    slot->run = waiting_run(port, device);
    return slot;
}

void Station::add_configured_ports() {
    for (const std::string& port : options_.ports) {
        slots_.push_back(slot_for(port, device_for_port(port)));
        slots_.back()->named = true;
    }
}

// Ports the mapping finds now that the station does not have yet, in the mapping's order.
void Station::add_found_ports() {
    std::vector<std::string> left_out;
    for (const SerialPortName& found : find_serial_ports(left_out)) {
        bool known = false;
        for (const auto& slot : slots_) {
            known = known || device_identity(slot->device) == device_identity(found.device);
        }
        if (!known && keeps(found.device)) {
            slots_.push_back(slot_for(found.name, found.device));
        }
    }
    for (const std::string& device : left_out) {
        if (std::find(left_out_.begin(), left_out_.end(), device) == left_out_.end()) {
            left_out_.push_back(device);
            std::cerr << "korvan-download-cli: --all-ports leaves out " << printable(device)
                      << '\n';
        }
    }
}

bool Station::keeps(const std::string& device) const {
    return filters_keep_device(options_.port_filters, device);
}

// A batch on named ports: a port whose adapter no filter keeps is not opened at all. One
// with no device yet stays, to fail as its own run.
void Station::leave_out_unmatched_named_ports() {
    std::erase_if(slots_, [this](const std::unique_ptr<Slot>& slot) {
        if (!device_is_present(slot->device) || keeps(slot->device)) {
            return false;
        }
        std::cerr << "korvan-download-cli: --port-filter leaves out " << printable(slot->port)
                  << '\n';
        return true;
    });
}

void Station::say_no_port_matches(const std::string& then) {
    if (!no_match_said_) {
        no_match_said_ = true;
        display_.show_note("station", no_port_matches_filter(options_.port_filters) + then);
    }
}

void Station::start_download(Slot& slot) {
    // A port that was busy still counts as held until this attempt reaches its modem.
    const std::string holder = slot.run.holder;
    slot.run = PortRun{};
    slot.run.holder = holder;
    slot.run.port = slot.port;
    slot.run.device = slot.device;
    slot.run.started = system_clock::now();
    slot.run.started_steady = steady_clock::now();
    slot.pending_output.clear();
    slot.child_reported = false;
    slot.port_busy = false;
    slot.holding_events = options_.watch;
    slot.held_events.clear();
    if (!device_is_present(slot.device)) {
        // Nothing to open: a child given no device would search every port instead. The
        // port ends as a run of its own would, with an outcome.
        const nlohmann::ordered_json outcome = {{"time", iso8601_utc(slot.run.started)},
                                                {"event", "outcome"},
                                                {"result", RESULT_FAILED},
                                                {"text", NO_DEVICE},
                                                {"records", 0}};
        apply_event(slot.run, outcome);
        display_.show_event(slot.run, outcome);
        finish_run(slot.run, ChildExit{EXIT_DOWNLOAD_FAILED, 0}, system_clock::now(),
                   steady_clock::now());
        end_download(slot);
        return;
    }

    std::vector<std::string> arguments = {own_program_path(), "--port",         slot.device,
                                          "--events",         "--station-port", slot.port};
    if (!options_.image_path.empty()) {
        arguments.insert(arguments.end(), {"--image", options_.image_path});
    }
    if (!options_.report_path.empty()) {
        arguments.insert(arguments.end(), {"--report", options_.report_path});
    }
    if (!options_.trace_path.empty()) {
        slot.run.trace_path = (std::filesystem::path(options_.trace_path) /
                               station_trace_name(slot.port, compact_utc_time(slot.run.started)))
                                  .string();
        arguments.insert(arguments.end(), {"--trace", slot.run.trace_path});
    }
    std::string error;
    slot.child = start_child_process(arguments, error);
    if (!slot.child) {
        slot.run.result = RESULT_FAILED;
        slot.run.message = "Could not start the download: " + error;
        display_.show_note(slot.port, slot.run.message);
        end_download(slot);
    }
}

void Station::collect_output() {
    std::vector<ChildProcess*> children;
    for (const auto& slot : slots_) {
        if (slot->child) {
            children.push_back(slot->child.get());
        }
    }
    if (!children.empty()) {
        wait_for_child_output(children, LOOK_AGAIN_MS);
    }
    for (const auto& slot : slots_) {
        if (slot->child) {
            take_output(*slot);
        }
    }
}

void Station::take_output(Slot& slot) {
    const bool open = slot.child->read_output(slot.pending_output);
    std::size_t end;
    while ((end = slot.pending_output.find('\n')) != std::string::npos) {
        std::string line = slot.pending_output.substr(0, end);
        slot.pending_output.erase(0, end + 1);
        take_line(slot, line);
    }
    if (!open) {
        if (!slot.pending_output.empty()) {
            take_line(slot, slot.pending_output);
        }
        const ChildExit exit = slot.child->wait_for_exit();
        slot.child.reset();
        finish_run(slot.run, exit, system_clock::now(), steady_clock::now());
        if (options_.watch && try_again_later(slot)) {
            return;
        }
        show_held_events(slot);
        end_download(slot);
    }
}

void Station::take_line(Slot& slot, const std::string& line) {
    std::optional<nlohmann::ordered_json> event = json_object_of_line(line);
    if (!event) {
        if (!line.empty()) {
            // Not an event: what the child said on its error output (a device it cannot use).
            display_.show_note(slot.port, line);
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

void Station::show_run_event(Slot& slot, const nlohmann::ordered_json& event) {
    const std::string kind = text_member(event, "event");
    const bool reached = kind == "identification" ||
                         (kind == "outcome" && text_member(event, "result") != RESULT_NO_MODEM);
    if (slot.holding_events && !reached) {
        slot.held_events.push_back(event);
        return;
    }
    show_held_events(slot);
    display_.show_event(slot.run, event);
}

// The run counts: what it held back is shown after all, and the rest as it comes.
void Station::show_held_events(Slot& slot) {
    slot.holding_events = false;
    for (const nlohmann::ordered_json& held : slot.held_events) {
        display_.show_event(slot.run, held);
    }
    slot.held_events.clear();
}

// Watch mode, a run just ended: one that did not reach a modem (the port busy, no answer
// yet) is no run; the port is tried again shortly, unless the policy says it counts.
bool Station::try_again_later(Slot& slot) {
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
        display_.show_note(slot.port, reason + ", trying again every few seconds");
    }
    return true;
}

// Watch mode: starts a download on a port whose device is there and not yet flashed, and
// notices a device that went away.
void Station::look_at_port(Slot& slot) {
    const bool present = device_is_present(slot.device);
    if (!present && (slot.waiting_for_removal || slot.retry_pending || !slot.wait_reason.empty())) {
        if (slot.waiting_for_removal) {
            display_.show_modem_gone(slot.port);
        }
        slot.waiting_for_removal = false;
        slot.retry_pending = false;
        slot.retry.reset();
        slot.wait_reason.clear();
        slot.run = waiting_run(slot.port, slot.device);
        return;
    }
    if (!present || slot.waiting_for_removal || interrupt_requested()) {
        return;
    }
    if (!keeps(slot.device)) {
        const std::string reason = "Waiting: its adapter does not match --port-filter";
        slot.run.step = reason;
        if (reason != slot.wait_reason) {
            slot.wait_reason = reason;
            display_.show_note(slot.port, reason);
        }
        return;
    }
    if (slot.retry_pending && steady_clock::now() < slot.retry.retry_at()) {
        return;
    }
    slot.retry_pending = false;
    start_download(slot);
}

void Station::end_download(Slot& slot) {
    slot.last_finished = slot.run;
    ++flashed_;
    completed_ += slot.run.result == RESULT_COMPLETE ? 1 : 0;
    slot.waiting_for_removal = true;
    slot.wait_reason.clear();
    // The station writes the line of a run whose download did not: it found no modem (the
    // station decides whether that counts), crashed, or could not start.
    if (options_.report_path.empty() || slot.child_reported) {
        return;
    }
    std::string error;
    if (!append_report(options_.report_path, slot.run, error)) {
        note_report_failure(slot, error);
    }
}

void Station::note_report_failure(const Slot& slot, const std::string& error) {
    report_failed_ = true;
    display_.show_note(slot.port,
                       "Could not append to the report " + options_.report_path + ": " + error);
}

void Station::note_interrupt_once() {
    if (interrupt_requested() && !interrupt_noted_) {
        interrupt_noted_ = true;
        if (busy_count() > 0) {
            display_.show_note("station",
                               "Interrupted: the downloads in progress finish first (Ctrl-C "
                               "again stops them at once)");
        }
    }
}

// A second Ctrl-C: the operator wants out now. The runs cut short are reported as such.
void Station::abort_once() {
    if (!abort_requested() || aborted_) {
        return;
    }
    aborted_ = true;
    if (busy_count() > 0) {
        display_.show_note("station", "Stopping the downloads in progress at once");
    }
    for (const auto& slot : slots_) {
        if (slot->child) {
            slot->child->kill();
        }
    }
}

void Station::redraw() {
    std::vector<const PortRun*> runs;
    for (const auto& slot : slots_) {
        runs.push_back(&slot->run);
    }
    display_.redraw(runs, steady_clock::now());
}

int Station::busy_count() const {
    int busy = 0;
    for (const auto& slot : slots_) {
        busy += slot->child ? 1 : 0;
    }
    return busy;
}

int Station::exit_status() const {
    return report_failed_ || completed_ < flashed_ ? EXIT_DOWNLOAD_FAILED : EXIT_DOWNLOAD_COMPLETE;
}

// The last run of each port, and in watch mode how many flashes the station made in all.
void Station::show_summary() {
    std::vector<PortRun> last_runs;
    for (const auto& slot : slots_) {
        if (slot->last_finished) {
            last_runs.push_back(*slot->last_finished);
        }
    }
    display_.show_summary(last_runs);
    if (options_.watch) {
        display_.show_note("station", std::to_string(flashed_) + " flashed, " +
                                          std::to_string(completed_) + " complete");
    }
}

int Station::run_batch() {
    if (options_.all_ports) {
        add_found_ports();
    } else {
        add_configured_ports();
        leave_out_unmatched_named_ports();
    }
    if (slots_.empty()) {
        if (options_.port_filters.empty()) {
            display_.show_note("station", "No serial port found");
        } else {
            say_no_port_matches("");
        }
        return EXIT_DOWNLOAD_FAILED;
    }
    for (const auto& slot : slots_) {
        start_download(*slot);
    }
    // Once started, a download is never cut short: an interrupt only waits for the end.
    while (busy_count() > 0) {
        redraw();
        collect_output();
        note_interrupt_once();
        abort_once();
    }
    redraw();
    show_summary();
    return exit_status();
}

int Station::run_watch() {
    add_configured_ports();
    while (!interrupt_requested() || busy_count() > 0) {
        if (options_.all_ports && !interrupt_requested()) {
            add_found_ports();
            if (slots_.empty() && !options_.port_filters.empty()) {
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
        redraw();
        if (busy_count() > 0) {
            collect_output();
        } else {
            wait_for_child_output({}, LOOK_AGAIN_MS);
        }
        note_interrupt_once();
        abort_once();
    }
    redraw();
    show_summary();
    return exit_status();
}

LineOutput output_for(const CliOptions& options) {
    if (options.events) {
        return LineOutput::events;
    }
    return stdout_is_terminal() ? LineOutput::terminal : LineOutput::plain;
}

// The first device two of the ports lead to, if any, also under two names (a by-id link
// and its target): two downloads on one line would garble each other.
std::string device_named_twice(const std::vector<std::string>& ports) {
    std::vector<std::string> identities;
    for (const std::string& port : ports) {
        const std::string device = device_for_port(port);
        if (device.empty()) {
            continue;  // no device behind it (yet): that port's own failure
        }
        const std::string identity = device_identity(device);
        if (std::find(identities.begin(), identities.end(), identity) != identities.end()) {
            return device;
        }
        identities.push_back(identity);
    }
    return {};
}

}  // namespace

int run_production_line(const CliOptions& options) {
    if (const std::string twice = device_named_twice(options.ports); !twice.empty()) {
        return usage_error(options, "--ports names " + printable(twice) + " twice");
    }
    if (!options.report_path.empty()) {
        // Found out before any modem is touched, not after the first one is flashed.
        std::string error;
        if (!can_append_to(options.report_path, error)) {
            return usage_error(options,
                               "cannot append to " + printable(options.report_path) + ": " + error);
        }
    }
    if (!options.image_path.empty()) {
        // One bad image would fail every port: said once, before any child starts.
        const ImageCheck image = check_image(options.image_path);
        if (!image.valid()) {
            std::cerr << "korvan-download-cli: " << printable(options.image_path) << ": "
                      << image.problem << '\n';
            return EXIT_DOWNLOAD_FAILED;
        }
    }
    defer_interrupts(SecondCtrlC::is_noted);
    const LineOutput output = output_for(options);
    if (output == LineOutput::terminal) {
        enable_terminal_sequences();
    }
    LineDisplay display(std::cout, output, terminal_columns);
    Station station(options, display);
    return options.watch ? station.run_watch() : station.run_batch();
}
