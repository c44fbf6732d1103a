#pragma once

#include <functional>

#include "engine/download_host.h"
#include "engine/download_sequencer.h"
#include "port/clock.h"
#include "tools/download_cli/cli_options.h"
#include "tools/download_cli/console_timer.h"

// What a host adds to the plain run: it sees the sequencer before the first step and after
// every step, says whether the run is to go on, and hears of an interrupt that came once
// the erase had begun (the run goes on to its end then).
struct SingleDownloadHooks {
    std::function<void(DownloadSequencer&)> before_run;
    std::function<void(const DownloadSequencer&, int state_before)> after_step;
    std::function<bool()> keep_going;
    std::function<void()> interrupted;
};

// What the interrupted hook tells the user, on standard error.
inline constexpr char RUN_GOES_ON_AFTER_INTERRUPT[] =
    "korvan-download-cli: interrupted: the download goes on to its end, so that the modem is "
    "not left half-written; press Ctrl-C again to abort at once";

// One ordinary download: the ports of options (one device, or COM1..COM9, less those
// --port-filter leaves out: with none left the run ends with that said), the image from
// --image or modems.cfg, the sequencer driven by timer until the run ends. An image named
// by --image that is not valid ends the run with its message before any port is opened.
// Until the erase begins an interrupt ends the program at once; from then on the run goes
// on to its end. Returns false with the reason in error when --port names a device that
// cannot be used.
bool run_single_download(const CliOptions& options, DownloadHost& host, ConsoleTimer& timer,
                         const SingleDownloadHooks& hooks, std::string& error,
                         PortFactory factory = serial_port_factory());

// The ports whose adapter one of filters keeps, in their order (all of them without filters).
std::vector<PortTableEntry> ports_kept(std::vector<PortTableEntry> ports,
                                       const std::vector<PortFilter>& filters);
