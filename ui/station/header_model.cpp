#include "ui/station/header_model.h"

#include <algorithm>
#include <cmath>

#include "tools/download_cli/printable_text.h"

namespace {

// "the flash in progress finishes", "the 3 flashes in progress finish"
std::string in_progress_finish(int running) {
    return running == 1 ? "the flash in progress finishes"
                        : "the " + std::to_string(running) + " flashes in progress finish";
}

// A port without a tile is flashed all the same, so the operator must know it is there.
std::string untiled(const HeaderFacts& facts) {
    const int unseen = facts.ports - facts.tiles;
    if (unseen <= 0) {
        return "";
    }
    return "; " + std::to_string(unseen) + " of " + std::to_string(facts.ports) +
           (unseen == 1 ? " ports has no tile" : " ports have no tile");
}

std::string state_of(const HeaderFacts& facts) {
    if (facts.closing) {
        return "Closing once " + in_progress_finish(facts.running);
    }
    if (facts.paused) {
        return facts.running > 0
                   ? "Paused: no new flash starts; " + in_progress_finish(facts.running)
                   : "Paused: no new flash starts";
    }
    return "Watching for modems";
}

}  // namespace

std::string close_question(int running, int with_modem) {
    if (with_modem == 0) {
        return (running == 1 ? std::string("A port is") : std::to_string(running) + " ports are") +
               " being checked for a modem; a modem found now is flashed first.\n\nQuit "
               "once that is done? No new flash starts meanwhile.";
    }
    return (with_modem == 1 ? std::string("A flash is")
                            : std::to_string(with_modem) + " flashes are") +
           " in progress. A flash cut short can leave a modem without working firmware.\n\n"
           "Quit once " +
           (running == 1 ? "it is" : "they are") + " done? No new flash starts meanwhile.";
}

HeaderFacts header_facts(const Station& station, const ImageSource& images,
                         std::chrono::steady_clock::time_point started, bool closing, int tiles) {
    HeaderFacts facts;
    facts.image_path = station.settings().image_path;
    facts.image_checksum = images.image_checksum;
    facts.modems_cfg = images.modems_cfg;
    facts.report_path = station.settings().report_path;
    facts.report_failed = station.report_failed();
    facts.flashed = station.flashed_count();
    facts.completed = station.completed_count();
    facts.running_for = std::chrono::steady_clock::now() - started;
    facts.paused = station.paused();
    facts.closing = closing;
    facts.running = station.running_count();
    facts.ports = static_cast<int>(station.current_runs().size());
    facts.tiles = std::min(facts.ports, tiles);
    return facts;
}

long flashes_per_hour(int flashed, std::chrono::steady_clock::duration running_for) {
    const double hours = std::chrono::duration<double, std::ratio<3600>>(running_for).count();
    if (flashed <= 0 || hours <= 0) {
        return 0;
    }
    return std::lround(flashed / hours);
}

Header header_of(const HeaderFacts& facts) {
    Header header;
    header.image = facts.image_path.empty()
                       ? "Image: from " + printable(facts.modems_cfg)
                       : "Image: " + printable(facts.image_path) + " (checksum total " +
                             printable(facts.image_checksum) + ")";
    header.report =
        facts.report_path.empty() ? "Report: none" : "Report: " + printable(facts.report_path);
    if (facts.report_failed) {
        // The flash is done, but nothing records it: the operator must know at once.
        header.report += "   NOT WRITTEN: a report line could not be written (see Details)";
    }
    header.totals = "Flashed " + std::to_string(facts.flashed) + "   Complete " +
                    std::to_string(facts.completed) + "   Failed " +
                    std::to_string(facts.flashed - facts.completed) + "   " +
                    std::to_string(flashes_per_hour(facts.flashed, facts.running_for)) +
                    " per hour";
    header.state = state_of(facts) + untiled(facts);
    return header;
}
