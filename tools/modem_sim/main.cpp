// korvan-modem-sim: a modem on the far end of a serial line, for tests and demonstrations.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/modem_sim/event_log.h"
#include "tools/modem_sim/line_link.h"
#include "tools/modem_sim/line_pacer.h"
#include "tools/modem_sim/modem_line_loop.h"
#include "tools/modem_sim/modem_session.h"
#include "tools/modem_sim/serial_line.h"
#include "tools/usage_error.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) {
    stop_requested = 1;
}

// Blocks the stop signals outside the loop's waits; returns the mask to wait with.
sigset_t install_stop_signals() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal_number, &action, nullptr);
        sigaddset(&stop_signals, signal_number);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stop_signals, &previous);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        sigdelset(&previous, signal_number);
    }
    return previous;
}

bool parse_bauds(const std::string& text, std::set<unsigned>& bauds) {
    if (text == "any") {
        bauds.clear();
        return true;
    }
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        try {
            std::size_t used = 0;
            unsigned long baud = std::stoul(item, &used);
            if (used != item.size() || baud == 0) {
                return false;
            }
            bauds.insert(static_cast<unsigned>(baud));
        } catch (const std::exception&) {
            return false;
        }
    }
    return !bauds.empty();
}

// The line must stay quiet this long before a command packet counts as whole: well above
// the gap between two bytes of one packet at any line rate.
std::chrono::milliseconds packet_idle_for(unsigned line_rate) {
    std::chrono::milliseconds idle{20};
    if (line_rate != 0) {
        auto byte_times = std::chrono::duration_cast<std::chrono::milliseconds>(
            LinePacer(line_rate).byte_time() * 20);
        idle = std::max(idle, byte_times);
    }
    return idle;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Simulated modem on a serial line: answers AT commands and the download protocol.\n"
        "Prints the line's device path on its first line, a summary line on exit.",
        "korvan-modem-sim"};
    app.set_version_flag("--version", std::string("korvan-modem-sim ") + KORVAN_VERSION);
    ModemSettings settings;
    ModemFaults& faults = settings.faults;
    std::string device;
    std::string link_path;
    std::string bauds_text = "115200,57600";
    unsigned line_rate = 0;
    unsigned erase_ms = 300;
    unsigned packet_idle_ms = 0;
    std::string flash_out;
    std::string log_path;
    std::string wire_trace_path;
    std::vector<unsigned> corrupt_configure;

    app.add_option("--device", device,
                   "Serve this existing terminal instead of a new pty, set to the fastest of "
                   "--bauds");
    app.add_option("--link", link_path, "Also make a symbolic link to the line here");
    app.add_option("--model", settings.model, "Identification text answered to ATI3")
        ->capture_default_str();
    app.add_option("--bauds", bauds_text,
                   "Comma-separated line speeds at which the modem answers, or 'any'")
        ->capture_default_str();
    app.add_option("--line-rate", line_rate,
                   "Pace sending and receiving like a line at this baud (default: unpaced)");
    app.add_option("--erase-ms", erase_ms, "Time the erase takes before its reply")
        ->capture_default_str();
    app.add_option("--packet-idle-ms", packet_idle_ms,
                   "Quiet time that ends a download-mode packet (default: 20 ms, longer when "
                   "paced); a line that pauses within a packet needs more");
    app.add_option("--context-word", settings.context_word, "Context word of the configure reply");
    app.add_option("--flash-out", flash_out,
                   "Write the programmed records here at restore and at exit");
    app.add_option("--log", log_path, "Write one line per received command or packet here");
    app.add_option("--wire-trace", wire_trace_path,
                   "Write a timestamped line per chunk of bytes across the line and per event");

    app.add_flag("--silent", faults.silent, "Never answer anything");
    app.add_flag("--ignore-at", faults.ignore_at,
                 "Start in download mode, where AT commands are not understood");
    app.add_flag("--refuse-download-mode", faults.refuse_download_mode,
                 "Answer AT*Y120 and AT*D with ERROR");
    app.add_option("--corrupt-configure", corrupt_configure,
                   "Send the Nth configure reply (1-based; repeatable or comma list) with a "
                   "wrong check field")
        ->delimiter(',');
    app.add_flag("--no-erase-confirm", faults.no_erase_confirm, "Never answer the erase packet");
    app.add_option("--wrong-tag", faults.wrong_tag_record,
                   "Acknowledge record K (1-based, every attempt) with another tag");
    app.add_option("--silent-from-record", faults.silent_from_record,
                   "Acknowledge no record from record K (1-based) on");
    app.add_option("--bad-ack-check", faults.bad_ack_check_record,
                   "Acknowledge record K (1-based, every attempt) with a wrong check field");
    app.add_flag("--no-restore-confirm", faults.no_restore_confirm,
                 "Never answer the restore packet");
    app.add_flag("--noisy-at", faults.noisy_at, "Mix NUL bytes and noise into text replies");
    app.add_flag("--extra-bytes", faults.extra_bytes, "Send three stray bytes after every reply");
    app.add_flag("--xoff-on-configure", faults.xoff_on_configure,
                 "Answer the configure packet with a single XOFF byte, then nothing ever again");
    bool keep_line_modes = false;
    app.add_flag("--keep-line-modes", keep_line_modes,
                 "Leave the new pty in the modes a fresh one has (XON/XOFF on, not raw)");
    app.add_option("--hangup-at", faults.hangup_record,
                   "Close the line and exit when record K (1-based) arrives");

    if (auto status = parse_tool_command_line(app, argc, argv)) {
        return *status;
    }

    LineLoopOptions loop_options;
    if (!parse_bauds(bauds_text, settings.bauds)) {
        return report_usage_error(app, "--bauds: expected speeds like 115200,57600 or 'any'");
    }
    loop_options.line_rate = line_rate;
    faults.corrupt_configure.insert(corrupt_configure.begin(), corrupt_configure.end());
    settings.erase_time = std::chrono::milliseconds(erase_ms);
    settings.packet_idle = packet_idle_ms != 0 ? std::chrono::milliseconds(packet_idle_ms)
                                               : packet_idle_for(line_rate);

    EventLog log;
    if (!log_path.empty() && !log.open(log_path)) {
        std::fprintf(stderr, "modem-sim: cannot write %s\n", log_path.c_str());
        return 1;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> wire_trace(nullptr, std::fclose);
    if (!wire_trace_path.empty()) {
        wire_trace.reset(std::fopen(wire_trace_path.c_str(), "w"));
        if (!wire_trace) {
            std::fprintf(stderr, "modem-sim: cannot write %s\n", wire_trace_path.c_str());
            return 1;
        }
        loop_options.wire_trace = wire_trace.get();
    }
    std::string error;
    // Its speed can only follow the host where the host shares its settings (a pty).
    const unsigned device_baud = settings.bauds.empty() ? 0 : *settings.bauds.rbegin();
    auto line = device.empty() ? SerialLine::create_pty(error, keep_line_modes)
                               : SerialLine::open_device(device, device_baud, error);
    if (!line) {
        std::fprintf(stderr, "modem-sim: %s\n", error.c_str());
        return 1;
    }
    LineLink link;
    if (!link_path.empty() && !link.create(link_path, line->name(), error)) {
        std::fprintf(stderr, "modem-sim: %s\n", error.c_str());
        return 1;
    }
    sigset_t wait_mask = install_stop_signals();
    std::printf("%s\n", line->name().c_str());
    std::fflush(stdout);

    ModemSession session(settings, log, flash_out);
    LineLoopEnd end = run_line_loop(*line, session, loop_options, log, stop_requested, wait_mask);
    line->close();
    link.remove();
    if (end == LineLoopEnd::line_lost) {
        log.write("line lost");
    }
    session.write_flash_if_changed();
    std::printf("modem-sim: records programmed %zu, checksum total %04x\n",
                session.flash().record_count(), session.flash().checksum_total());
    std::fflush(stdout);
    return 0;
}
