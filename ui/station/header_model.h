#pragma once

#include <chrono>
#include <string>

#include "station/station.h"
#include "ui/station/image_source.h"

// What a station window's header says, whatever the toolkit; printable ASCII throughout.
struct HeaderFacts {
    std::string image_path;      // --image; empty: each modem's image comes from modems.cfg
    std::string image_checksum;  // the checksum total of --image, four hex digits
    std::string modems_cfg;      // without --image: the modems.cfg the downloads read
    std::string report_path;     // empty: no report file
    bool report_failed = false;  // a report line could not be written
    int flashed = 0;             // runs that reached a modem since the start
    int completed = 0;           // of those, complete
    std::chrono::steady_clock::duration running_for{};  // since the station started
    bool paused = false;
    bool closing = false;  // the window closes once the running flashes are done
    int running = 0;       // flashes in progress
    int ports = 0;         // the ports the station watches
    int tiles = 0;         // of those, the ones the window has room to show a tile for
};

struct Header {
    std::string image;   // "Image: /srv/fw.dl (checksum total 1a2b)",
                         // "Image: from /srv/modems.cfg"
    std::string report;  // "Report: /srv/report.jsonl", "Report: none", and a warning once a
                         // line could not be written
    std::string totals;  // "Flashed 12   Complete 11   Failed 1   36 per hour"
    std::string state;   // "Watching for modems", "Paused: ...", "Closing once ...", and
                         // "; 8 of 40 ports have no tile" when some go unseen
};

Header header_of(const HeaderFacts& facts);

// The facts of a station that started at started, its images as checked before it did;
// closing and tiles are the window's own to say.
HeaderFacts header_facts(const Station& station, const ImageSource& images,
                         std::chrono::steady_clock::time_point started, bool closing, int tiles);

// The question a close asked while downloads run: running of them, with_modem of those past
// the modem's answer (the others still look for a modem, and flash one they find).
std::string close_question(int running, int with_modem);

// Flashes per hour since the start, rounded; 0 before the first flash.
long flashes_per_hour(int flashed, std::chrono::steady_clock::duration running_for);
