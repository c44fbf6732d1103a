#include "tools/download_cli/single_download.h"

#include <chrono>
#include <optional>
#include <random>
#include <utility>

#include "engine/download_path.h"
#include "port/port_discovery.h"
#include "station/interrupts.h"
#include "tools/download_cli/image_check.h"

namespace {

// The state whose step sends the erase packet: from there on the modem holds no working
// firmware until the run completes, so an interrupt must not end the run.
constexpr int STATE_ERASE = 3;

// Like the window, a fresh timer identifier for every run.
unsigned draw_timer_id() {
    std::minstd_rand generator(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
    return static_cast<unsigned>(generator());
}

}  // namespace

std::vector<PortTableEntry> ports_kept(std::vector<PortTableEntry> ports,
                                       const std::vector<PortFilter>& filters) {
    std::erase_if(ports, [&filters](const PortTableEntry& port) {
        return !filters_keep_device(filters, searched_port_device(port));
    });
    return ports;
}

bool run_single_download(const CliOptions& options, DownloadHost& host, ConsoleTimer& timer,
                         const SingleDownloadHooks& hooks, std::string& error,
                         PortFactory factory) {
    std::vector<PortTableEntry> ports = default_port_table();
    if (!options.port_device.empty()) {
        std::optional<PortTableEntry> entry = port_entry_for_device(options.port_device, error);
        if (!entry) {
            return false;
        }
        ports = {*entry};
    }
    if (!options.image_path.empty()) {
        // A misspelt or broken image ends the run before any modem hears a byte.
        const ImageCheck image = check_image(options.image_path);
        if (!image.valid()) {
            host.report_outcome(image.problem.c_str());
            return true;
        }
    }
    if (!options.port_filters.empty()) {
        ports = ports_kept(std::move(ports), options.port_filters);
        if (ports.empty()) {
            const std::string text =
                no_port_matches_filter(options.port_filters) + " (see --list-ports)";
            host.report_outcome(text.c_str());
            return true;
        }
    }
    DownloadSequencer sequencer(host, system_clock(), draw_timer_id(), std::move(factory));
    sequencer.set_port_table(std::move(ports));
    if (hooks.before_run) {
        hooks.before_run(sequencer);
    }

    sequencer.begin_run();  // clears the current download path
    if (!options.image_path.empty()) {
        // The image named on the command line wins over any modems.cfg entry.
        sequencer.set_modem_map_path("");
        set_current_download_path(options.image_path.c_str());
    }

    bool interrupt_noted = false;
    const auto keep_going = [&] {
        if (interrupt_requested() && !interrupt_noted) {
            interrupt_noted = true;
            if (hooks.interrupted) {
                hooks.interrupted();
            }
        }
        return !hooks.keep_going || hooks.keep_going();
    };
    run_timer_loop(timer, keep_going, [&](unsigned timer_id) {
        const int state_before = sequencer.state();
        if (state_before == STATE_ERASE) {
            defer_interrupts(SecondCtrlC::ends_program);
        }
        sequencer.OnTimer(timer_id);
        if (hooks.after_step) {
            hooks.after_step(sequencer, state_before);
        }
    });
    return true;
}
