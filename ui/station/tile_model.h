#pragma once

#include <chrono>
#include <string>

#include "port/adapter_identity.h"
#include "station/port_run.h"

// What a station window shows of one port, whatever the toolkit: the texts are printable
// ASCII (text from the modem, the USB adapter or a file name arrives escaped), so a window
// puts them on its labels as they are.
enum class TileState { waiting, busy, running, complete, failed, no_image };

enum class TileColour { grey, amber, blue, green, red };

struct TileRgb {
    unsigned char red;
    unsigned char green;
    unsigned char blue;
};

struct Tile {
    TileState state = TileState::waiting;
    TileColour colour = TileColour::grey;
    std::string port;            // as the user or the port search named it
    std::string adapter;         // the USB adapter's by-id name or serial number; may be empty
    std::string identification;  // the modem's answer to ATI3
    std::string step;            // the last status message
    int records = 0;             // acknowledged so far, for a bar over IMAGE_RECORD_COUNT
    std::string records_text;    // "112/224"
    std::string elapsed;         // "1:05" once a download started, else empty
    std::string word;            // "waiting", "busy", "running", "complete", "failed", "no image"
    std::string detail;          // who holds the port, the checksum total or the final message
};

// The tile of a port's current run. adapter names the port's USB adapter (empty when it
// has none); now is the time the elapsed time runs to while the download goes on.
Tile tile_of(const PortRun& run, const std::string& adapter,
             std::chrono::steady_clock::time_point now);

// How a tile names the USB adapter of its port: its by-id name, else its serial number,
// else its USB ids; empty for a port that is no USB adapter. Escaped.
std::string adapter_label(const AdapterIdentity& adapter);

// One shade per colour, the same in every window: light enough for black text on it.
TileRgb rgb_of(TileColour colour);

// "1:05": whole minutes and seconds.
std::string minutes_and_seconds(double seconds);
